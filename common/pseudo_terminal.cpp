#include "pseudo_terminal.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/inotify.h>
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

bool PseudoTerminal::shareWithGroup(const QString &group)
{
    const struct group *entry = ::getgrnam(group.toLocal8Bit().constData());
    if (!entry) {
        m_errorString = QStringLiteral("there is no group %1").arg(group);
        return false;
    }
    if (::fchown(m_slave, uid_t(-1), entry->gr_gid) != 0 || ::fchmod(m_slave, 0660) != 0) {
        m_errorString = systemError(QStringLiteral("cannot give %1 to group %2").arg(m_slavePath, group));
        return false;
    }
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
    delete m_watchNotifier;
    m_watchNotifier = nullptr;
    if (m_watch >= 0)
        ::close(m_watch);
    m_watch = -1;
    m_holders = 0;
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
    const QString target = existing.symLinkTarget();
    if (existing.isSymLink() && existing.exists() && target != m_slavePath) {
        m_errorString
            = QStringLiteral("%1 links to %2, which is open: another program serves it (another relay, "
                             "or it is a radio's own port); remove the link if nothing does")
                  .arg(path, target);
        return false;
    }
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

void PseudoTerminal::setReading(bool reading)
{
    m_reading = reading;
    if (m_readNotifier)
        m_readNotifier->setEnabled(reading);
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

bool PseudoTerminal::watchPrograms()
{
    m_watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watch < 0
        || ::inotify_add_watch(m_watch, QFile::encodeName(m_slavePath).constData(),
                               IN_OPEN | IN_MODIFY | IN_CLOSE)
            < 0)
        return fail(systemError(QStringLiteral("cannot watch %1 for programs opening it").arg(m_slavePath)));
    m_watchNotifier = new QSocketNotifier(m_watch, QSocketNotifier::Read, this);
    connect(m_watchNotifier, &QSocketNotifier::activated, this, &PseudoTerminal::readMaster);
    return true;
}

// The text is read before the openings are, so that every program that could
// have written some of it has been seen opening the line.
void PseudoTerminal::readMaster()
{
    const QByteArray data = readAvailable();
    if (m_watch < 0) {
        if (!data.isEmpty())
            emit received(data);
        return;
    }
    attribute(data, readEvents());
}

QByteArray PseudoTerminal::readAvailable()
{
    QByteArray data;
    char chunk[4096];
    for (;;) {
        const ssize_t count = ::read(m_master, chunk, sizeof chunk);
        if (count > 0) {
            data.append(chunk, count);
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
    return data;
}

// What programs did to the line since the last look, in order.
QList<PseudoTerminal::Event> PseudoTerminal::readEvents()
{
    QList<Event> events;
    alignas(inotify_event) char buffer[4096];
    ssize_t count;
    while ((count = ::read(m_watch, buffer, sizeof buffer)) > 0) {
        for (const char *at = buffer; at < buffer + count;) {
            const auto *event = reinterpret_cast<const inotify_event *>(at);
            if (event->mask & IN_OPEN)
                events.append(Event::Opened);
            if (event->mask & IN_MODIFY)
                events.append(Event::Wrote);
            if (event->mask & IN_CLOSE)
                events.append(Event::Closed);
            if (event->mask & IN_Q_OVERFLOW)
                events.append(Event::Lost);
            at += sizeof(inotify_event) + event->len;
        }
    }
    return events;
}

// The text read belongs to the one program that can have written it: one
// seen writing since the last look, or the one holding the line now, whose
// writing may not show yet. If that is more than one, it is no one's.
void PseudoTerminal::attribute(const QByteArray &data, const QList<Event> &events)
{
    // The programs of this look, in turn: the one holding the line at the
    // last look first, if any.
    QList<bool> wrote(m_holders > 0 ? 1 : 0, false);
    int holders = m_holders;
    bool lost = false;
    for (const Event event : events) {
        if (event == Event::Opened && holders++ == 0)
            wrote.append(false);
        else if (event == Event::Closed)
            holders = std::max(0, holders - 1);
        else if (event == Event::Wrote && !wrote.isEmpty())
            wrote.last() = true;
        lost = lost || event == Event::Lost;
    }
    if (holders > 0)
        wrote.last() = true;
    const qsizetype owner = wrote.count(true) == 1 && !lost ? wrote.indexOf(true) : -1;

    qsizetype program = m_holders > 0 ? 0 : -1;
    const auto hand = [&] {
        if (program == owner && !data.isEmpty())
            emit received(data);
    };
    hand();
    for (const Event event : events) {
        if (event == Event::Opened && m_holders++ == 0) {
            ++program;
            emit programOpened();
            hand();
        } else if (event == Event::Closed && m_holders > 0 && --m_holders == 0) {
            forgetProgram();
            emit programClosed();
        }
    }
    if (owner < 0 && !data.isEmpty())
        emit dropped(data.size());
}

// What was meant for a program that has gone is not for the next one.
void PseudoTerminal::forgetProgram()
{
    m_pending.clear();
    ::tcflush(m_slave, TCIFLUSH);
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
    if (m_watchNotifier)
        m_watchNotifier->setEnabled(false);
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
