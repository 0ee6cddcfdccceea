#include "pseudo_terminal.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace {

QString systemError(const QString &what)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

PseudoTerminal::PseudoTerminal(QObject *parent)
    : QObject(parent)
{ }

PseudoTerminal::~PseudoTerminal()
{
    close();
}

bool PseudoTerminal::open()
{
    close();
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        return fail(systemError(QStringLiteral("cannot open a pseudo-terminal")));
    char name[128];
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0
        || ::ptsname_r(m_master, name, sizeof name) != 0) {
        return fail(systemError(QStringLiteral("cannot set up the pseudo-terminal")));
    }
    m_slavePath = QString::fromLocal8Bit(name);
    if (!openSlave())
        return false;
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);

    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PseudoTerminal::readMaster);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &PseudoTerminal::flush);
    return true;
}

// Raw mode on the slave side, or the line discipline would echo, translate
// CR/LF and swallow control characters.
bool PseudoTerminal::openSlave()
{
    m_slave = ::open(QFile::encodeName(m_slavePath).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0)
        return fail(systemError(QStringLiteral("cannot open %1").arg(m_slavePath)));
    termios settings;
    if (::tcgetattr(m_slave, &settings) != 0)
        return fail(systemError(QStringLiteral("cannot read terminal settings")));
    ::cfmakeraw(&settings);
    if (::tcsetattr(m_slave, TCSANOW, &settings) != 0)
        return fail(systemError(QStringLiteral("cannot set raw mode")));
    return true;
}

void PseudoTerminal::close()
{
    removeLink();
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = -1;
    m_master = -1;
    m_slavePath.clear();
    m_pending.clear();
}

bool PseudoTerminal::isOpen() const
{
    return m_master >= 0;
}

bool PseudoTerminal::createLink(const QString &linkPath)
{
    if (!isOpen()) {
        m_errorString = QStringLiteral("the pseudo-terminal is not open");
        return false;
    }
    removeLink();
    const QString path = QFileInfo(linkPath).absoluteFilePath();
    const QFileInfo existing(path);
    if (existing.isSymLink()) {
        QFile::remove(path);
    } else if (existing.exists()) {
        m_errorString = QStringLiteral("%1 exists and is not a symlink; not replacing it").arg(path);
        return false;
    }
    if (::symlink(QFile::encodeName(m_slavePath).constData(), QFile::encodeName(path).constData()) != 0) {
        m_errorString = systemError(QStringLiteral("cannot create %1").arg(path));
        return false;
    }
    m_linkPath = path;
    return true;
}

QString PseudoTerminal::linkPath() const
{
    return m_linkPath;
}

QString PseudoTerminal::slavePath() const
{
    return m_slavePath;
}

QString PseudoTerminal::errorString() const
{
    return m_errorString;
}

QByteArray PseudoTerminal::readAll()
{
    return std::exchange(m_received, {});
}

void PseudoTerminal::write(const QByteArray &data)
{
    if (!isOpen())
        return;
    m_pending += data;
    if (m_pending.size() > MaxPendingWrite)
        m_pending.remove(0, m_pending.size() - MaxPendingWrite);
    flush();
}

bool PseudoTerminal::fail(const QString &what)
{
    close();
    m_errorString = what;
    return false;
}

void PseudoTerminal::readMaster()
{
    const qsizetype before = m_received.size();
    char chunk[4096];
    for (;;) {
        const ssize_t count = ::read(m_master, chunk, sizeof chunk);
        if (count > 0) {
            m_received.append(chunk, count);
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno == EAGAIN)
            break;
        stopOnError(count == 0 ? QStringLiteral("pseudo-terminal closed")
                               : systemError(QStringLiteral("read from pseudo-terminal")));
        break;
    }
    if (m_received.size() > before)
        emit readyRead();
}

void PseudoTerminal::flush()
{
    while (!m_pending.isEmpty()) {
        const ssize_t count = ::write(m_master, m_pending.constData(), size_t(m_pending.size()));
        if (count > 0) {
            m_pending.remove(0, count);
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno != EAGAIN)
            stopOnError(systemError(QStringLiteral("write to pseudo-terminal")));
        break;
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(!m_pending.isEmpty());
}

// Stop watching a descriptor that failed: a notifier on a dead descriptor
// would fire again at once and spin the event loop.
void PseudoTerminal::stopOnError(const QString &what)
{
    m_errorString = what;
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    m_pending.clear();
    emit errorOccurred(what);
}

void PseudoTerminal::removeLink()
{
    if (m_linkPath.isEmpty())
        return;
    if (QFile::symLinkTarget(m_linkPath) == m_slavePath)
        QFile::remove(m_linkPath);
    m_linkPath.clear();
}
