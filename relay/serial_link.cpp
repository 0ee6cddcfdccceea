#include "serial_link.h"

#include "serial_line.h"

#include <QFile>
#include <QFileInfo>

#include <sys/ioctl.h>

#include <algorithm>

namespace {

constexpr qint64 CharacterNanoseconds = 1'000'000'000 / RadioLineCharactersPerSecond;

// Where programs leave the lock file of a serial port they hold, QSerialPort
// among them.
const QStringList LockFolders = {"/var/lock", "/etc/locks", "/var/spool/locks",  "/var/spool/uucp",
                                 "/tmp",      "/var/tmp",   "/var/lock/lockdev", "/run/lock"};

// "LCK.." and the device as it was named to open it, "/dev/" left out and
// every "/" an "_": /dev/ttyUSB0 is LCK..ttyUSB0.
QString lockFileName(QString device)
{
    if (device.startsWith(u"/dev/"))
        device.remove(0, 5);
    return QStringLiteral("LCK..") + device.replace(u'/', u'_');
}

// The running program whose lock file holds the device, named by it or by
// the device a link leads to, as "q9relay (process 1234)"; an empty text
// when there is none. A lock file starts with the holder's process number.
QString lockHolder(const QString &device)
{
    const QStringList names{lockFileName(device), lockFileName(QFileInfo(device).canonicalFilePath())};
    for (const QString &folder : LockFolders) {
        for (const QString &name : names) {
            QFile lock(folder + u'/' + name);
            if (!lock.open(QIODevice::ReadOnly))
                continue;
            bool ok = false;
            const qint64 pid = lock.readLine().trimmed().toLongLong(&ok);
            QFile program(QStringLiteral("/proc/%1/comm").arg(pid));
            if (ok && pid > 0 && program.open(QIODevice::ReadOnly))
                return QStringLiteral("%1 (process %2)")
                    .arg(QString::fromLocal8Bit(program.readAll().trimmed()))
                    .arg(pid);
        }
    }
    return {};
}

} // namespace

SerialLink::SerialLink(const QString &portName, QObject *parent)
    : RadioLine(parent)
    , m_name(portName)
{
    m_port.setPortName(portName);
    setRadioLine(m_port);
    m_setControlLine = [this](ControlLine line, bool on) {
        return line == ControlLine::Rts ? m_port.setRequestToSend(on) : m_port.setDataTerminalReady(on);
    };
    connect(&m_port, &QSerialPort::readyRead, this, &SerialLink::readPort);
    connect(&m_port, &QSerialPort::bytesWritten, this, &SerialLink::checkDrained);
    // Queued: closing the port from inside its own error signal is not safe.
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialLink::handleError, Qt::QueuedConnection);

    m_retryTimer.setInterval(RetryInterval);
    connect(&m_retryTimer, &QTimer::timeout, this, &SerialLink::retry);
    m_drainTimer.setSingleShot(true);
    m_drainTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_drainTimer, &QTimer::timeout, this, &SerialLink::checkDrained);
    m_clock.start();
}

bool SerialLink::start()
{
    if (open())
        return true;
    if (m_port.error() != QSerialPort::DeviceNotFoundError)
        return false;
    emit message(QStringLiteral("waiting for %1 to appear; trying every %2 s")
                     .arg(m_name)
                     .arg(RetryInterval.count() / 1000));
    m_retryTimer.start();
    return true;
}

// A control line the relay keys the radio with is dropped as soon as the
// port is open.
bool SerialLink::open()
{
    if (!m_port.open(QIODevice::ReadWrite))
        return false;
    m_openedBefore = true;
    if (!applyControlLines())
        emit message(
            QStringLiteral("%1: cannot set its control lines: %2").arg(m_name, m_port.errorString()));
    return true;
}

bool SerialLink::setControlLine(ControlLine line, bool on)
{
    m_controlLines[line] = on;
    return !m_port.isOpen() || applyControlLines();
}

void SerialLink::setControlLines(ControlLines lines)
{
    m_setControlLine = std::move(lines);
}

bool SerialLink::applyControlLines()
{
    bool applied = true;
    for (const auto &[line, on] : m_controlLines)
        applied = m_setControlLine(line, on) && applied;
    return applied;
}

// Qt tells a port that another program holds as a permission error; the
// holder's name says more.
QString SerialLink::errorString() const
{
    const QString holder = m_port.error() == QSerialPort::PermissionError ? lockHolder(m_name) : QString();
    if (!holder.isEmpty())
        return QStringLiteral("%1: in use by %2").arg(m_name, holder);
    return QStringLiteral("%1: %2").arg(m_name, m_port.errorString());
}

void SerialLink::send(const QByteArray &commands)
{
    if (!m_port.isOpen())
        return;
    m_port.write(commands);
    m_lineFreeAt = std::max(m_lineFreeAt, m_clock.nsecsElapsed()) + commands.size() * CharacterNanoseconds;
    if (isBusy() && !m_drainTimer.isActive())
        checkDrained();
}

void SerialLink::flush()
{
    if (m_port.isOpen() && m_port.bytesToWrite() > 0)
        m_port.waitForBytesWritten(FlushTimeout.count());
}

qint64 SerialLink::backlog() const
{
    if (!m_port.isOpen())
        return 0;
    int kernel = 0;
    if (::ioctl(m_port.handle(), TIOCOUTQ, &kernel) != 0)
        kernel = 0;
    const qint64 onTheLine
        = (m_lineFreeAt - m_clock.nsecsElapsed() + CharacterNanoseconds - 1) / CharacterNanoseconds;
    return std::max({m_port.bytesToWrite() + kernel, onTheLine, qint64(0)});
}

std::chrono::milliseconds SerialLink::drainTime() const
{
    return std::chrono::milliseconds(backlog() * 1000 / RadioLineCharactersPerSecond);
}

// Nothing tells when the line has carried a byte: while it is busy, it is
// looked at again when it should no longer be.
void SerialLink::checkDrained()
{
    const qint64 excess = backlog() - BusyBacklog;
    if (excess <= 0) {
        m_drainTimer.stop();
        emit drained();
    } else if (!m_drainTimer.isActive()) {
        m_drainTimer.start(std::chrono::milliseconds(1 + excess * 1000 / RadioLineCharactersPerSecond));
    }
}

void SerialLink::readPort()
{
    emit received(m_port.readAll());
}

void SerialLink::handleError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || !m_port.isOpen())
        return;
    // Qt's text for a vanished device is often a stale errno; say it plainly.
    const QString why
        = error == QSerialPort::ResourceError ? QStringLiteral("the device went away") : m_port.errorString();
    emit message(QStringLiteral("%1 lost: %2; trying again every %3 s")
                     .arg(m_name, why)
                     .arg(RetryInterval.count() / 1000));
    m_port.close();
    m_retryTimer.start();
    emit lost();
    emit drained();
}

// A port that was open before is tried until it is back, whatever the
// reason it will not open. One awaited at start that has appeared but will
// not open is as wrong as one that was there and would not.
void SerialLink::retry()
{
    const bool back = m_openedBefore;
    if (open()) {
        m_retryTimer.stop();
        emit message(back ? QStringLiteral("%1 is back").arg(m_name)
                          : QStringLiteral("%1 is there").arg(m_name));
        emit opened();
        return;
    }
    if (back || m_port.error() == QSerialPort::DeviceNotFoundError || ++m_unusableTries < SettleTries)
        return;
    m_retryTimer.stop();
    emit failed(errorString());
}
