#include "pty_pair.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    grantpt(m_master);
    unlockpt(m_master);
    m_slavePath = QString::fromLocal8Bit(ptsname(m_master));
    // Holding the slave open keeps the master from reporting EIO between the
    // panel's closing and reopening of the port.
    m_slaveKeeper = ::open(ptsname(m_master), O_RDWR | O_NOCTTY);
    termios raw{};
    tcgetattr(m_slaveKeeper, &raw);
    cfmakeraw(&raw);
    tcsetattr(m_slaveKeeper, TCSANOW, &raw);
    m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &PtyPair::readMaster);
}

PtyPair::~PtyPair()
{
    hangUp();
}

void PtyPair::write(const QByteArray &bytes)
{
    if (m_master >= 0)
        (void)::write(m_master, bytes.constData(), bytes.size());
}

void PtyPair::hangUp()
{
    m_notifier.reset();
    if (m_master >= 0)
        ::close(m_master);
    if (m_slaveKeeper >= 0)
        ::close(m_slaveKeeper);
    m_master = m_slaveKeeper = -1;
}

void PtyPair::readMaster()
{
    char buffer[4096];
    const ssize_t n = ::read(m_master, buffer, sizeof buffer);
    if (n <= 0)
        return;
    const QByteArray chunk(buffer, static_cast<qsizetype>(n));
    received += chunk;
    if (onReceive)
        onReceive(chunk);
}
