#include "serial_link.h"

#include "serial_line.h"

SerialLink::SerialLink(const QString &portName, QObject *parent)
    : RadioLine(parent)
    , m_name(portName)
{
    m_port.setPortName(portName);
    setRadioLine(m_port);
    connect(&m_port, &QSerialPort::readyRead, this, &SerialLink::readPort);
    connect(&m_port, &QSerialPort::bytesWritten, this, &SerialLink::wrote);
    // Queued: closing the port from inside its own error signal is not safe.
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialLink::handleError, Qt::QueuedConnection);

    m_retryTimer.setInterval(RetryInterval);
    connect(&m_retryTimer, &QTimer::timeout, this, &SerialLink::retry);
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

bool SerialLink::open()
{
    if (!m_port.open(QIODevice::ReadWrite))
        return false;
    m_openedBefore = true;
    return true;
}

QString SerialLink::errorString() const
{
    return QStringLiteral("%1: %2").arg(m_name, m_port.errorString());
}

void SerialLink::send(const QByteArray &commands)
{
    if (m_port.isOpen())
        m_port.write(commands);
}

void SerialLink::flush()
{
    if (m_port.isOpen() && m_port.bytesToWrite() > 0)
        m_port.waitForBytesWritten(FlushTimeout.count());
}

qint64 SerialLink::backlog() const
{
    return m_port.isOpen() ? m_port.bytesToWrite() : 0;
}

void SerialLink::wrote()
{
    if (!isBusy())
        emit drained();
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
