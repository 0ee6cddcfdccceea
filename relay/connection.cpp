#include "connection.h"

#include "host_port.h"

#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool setOption(int socket, int level, int option, int value)
{
    return ::setsockopt(socket, level, option, &value, sizeof value) == 0;
}

// The socket for an address: "::" also takes IPv4 clients where it can.
int openSocket(const QHostAddress &address, sockaddr_storage *where, socklen_t *size)
{
    const bool ipv6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    *where = {};
    if (ipv6) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(where);
        in6->sin6_family = AF_INET6;
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, &bytes, sizeof bytes);
        *size = sizeof(sockaddr_in6);
    } else {
        auto *in4 = reinterpret_cast<sockaddr_in *>(where);
        in4->sin_family = AF_INET;
        in4->sin_addr.s_addr = htonl(address.toIPv4Address());
        *size = sizeof(sockaddr_in);
    }
    const int socket = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket >= 0 && address == QHostAddress(QHostAddress::AnyIPv6))
        setOption(socket, IPPROTO_IPV6, IPV6_V6ONLY, 0);
    return socket;
}

} // namespace

Listener::~Listener()
{
    if (m_socket >= 0)
        ::close(m_socket);
}

bool Listener::listen(const QHostAddress &address, quint16 port)
{
    sockaddr_storage where;
    socklen_t size = 0;
    m_socket = openSocket(address, &where, &size);
    reinterpret_cast<sockaddr_in &>(where).sin_port = htons(port);
    if (m_socket < 0 || !setOption(m_socket, SOL_SOCKET, SO_REUSEADDR, 1)
        || ::bind(m_socket, reinterpret_cast<sockaddr *>(&where), size) != 0 || ::listen(m_socket, 64) != 0) {
        m_errorString = systemError(errno);
        return false;
    }
    ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&where), &size);
    m_address = address;
    m_port = ntohs(reinterpret_cast<sockaddr_in &>(where).sin_port);
    m_notifier = new QSocketNotifier(m_socket, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &Listener::acceptAll);
    return true;
}

QString Listener::endpoint() const
{
    return joinHostPort(m_address, m_port);
}

// The client's address is taken with the connection, so that one that has
// already reset it by the time it is looked at is named all the same.
void Listener::acceptAll()
{
    for (;;) {
        sockaddr_storage peer{};
        socklen_t size = sizeof peer;
        const int descriptor
            = ::accept4(m_socket, reinterpret_cast<sockaddr *>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                backOff(errno);
            return;
        }
        const QHostAddress address = plainAddress(QHostAddress(reinterpret_cast<const sockaddr *>(&peer)));
        // Both families keep the port at the same place.
        emit incoming(descriptor, address, ntohs(reinterpret_cast<sockaddr_in &>(peer).sin_port));
    }
}

// Out of descriptors or memory: the waiting connection would wake us again
// at once, for ever. Leave it waiting a second.
void Listener::backOff(int error)
{
    emit message(QStringLiteral("cannot accept clients on %1: %2; trying again in a second")
                     .arg(endpoint(), systemError(error)));
    m_notifier->setEnabled(false);
    QTimer::singleShot(std::chrono::seconds(1), m_notifier,
                       [notifier = m_notifier] { notifier->setEnabled(true); });
}

Connection::Connection(const QString &name, QObject *parent)
    : QObject(parent)
    , m_name(name)
{ }

bool Connection::watch(const Liveness &liveness, int sendBuffer, QString *problem)
{
    const int socket = descriptor();
    const bool watched = setOption(socket, SOL_SOCKET, SO_KEEPALIVE, 1)
        && setOption(socket, IPPROTO_TCP, TCP_KEEPIDLE, int(liveness.idle.count()))
        && setOption(socket, IPPROTO_TCP, TCP_KEEPINTVL, int(liveness.interval.count()))
        && setOption(socket, IPPROTO_TCP, TCP_KEEPCNT, liveness.probes)
        && setOption(socket, IPPROTO_TCP, TCP_USER_TIMEOUT, int(liveness.silence.count()))
        && setOption(socket, IPPROTO_TCP, TCP_NODELAY, 1)
        && (sendBuffer == 0 || setOption(socket, SOL_SOCKET, SO_SNDBUF, sendBuffer));
    if (!watched)
        *problem = systemError(errno);
    return watched;
}

void Connection::acknowledge()
{
    setOption(descriptor(), IPPROTO_TCP, TCP_QUICKACK, 1);
}

qint64 Connection::kernelUnsent() const
{
    int queued = 0;
    if (descriptor() < 0 || ::ioctl(descriptor(), SIOCOUTQ, &queued) != 0)
        return 0;
    return queued;
}

PlainConnection::PlainConnection(int descriptor, const QString &name, QObject *parent)
    : Connection(name, parent)
    , m_socket(descriptor)
    , m_readNotifier(descriptor, QSocketNotifier::Read)
    , m_writeNotifier(descriptor, QSocketNotifier::Write)
{
    m_writeNotifier.setEnabled(false);
    connect(&m_readNotifier, &QSocketNotifier::activated, this, [this] {
        if (m_closing)
            finishClosing();
        else
            emit readyRead();
    });
    connect(&m_writeNotifier, &QSocketNotifier::activated, this, &PlainConnection::flush);
    m_lingerTimer.setSingleShot(true);
    connect(&m_lingerTimer, &QTimer::timeout, this, &PlainConnection::release);
}

PlainConnection::~PlainConnection()
{
    if (m_socket >= 0)
        ::close(m_socket);
}

QByteArray PlainConnection::read(qint64 most)
{
    QByteArray data;
    while (m_socket >= 0 && !m_atEnd && data.size() < most) {
        char chunk[4096];
        const ssize_t count = ::recv(
            m_socket, chunk, size_t(std::min<qint64>(sizeof chunk, most - data.size())), MSG_DONTWAIT);
        if (count > 0) {
            data.append(chunk, count);
        } else if (count == 0) {
            m_atEnd = true;
        } else if (errno != EINTR) {
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                // Told once the caller is done with what came before.
                const int error = errno;
                m_readNotifier.setEnabled(false);
                QMetaObject::invokeMethod(
                    this, [this, error] { fail(error); }, Qt::QueuedConnection);
            }
            break;
        }
    }
    if (!data.isEmpty())
        acknowledge();
    updateNotifiers();
    return data;
}

bool PlainConnection::hasHungUp() const
{
    pollfd hangUp{m_socket, POLLRDHUP, 0};
    return m_atEnd || m_socket < 0
        || (::poll(&hangUp, 1, 0) == 1 && (hangUp.revents & (POLLRDHUP | POLLHUP)));
}

void PlainConnection::setReading(bool reading)
{
    m_reading = reading;
    updateNotifiers();
}

void PlainConnection::write(QByteArrayView data)
{
    if (m_socket < 0 || m_closing)
        return;
    m_outgoing += data;
    flush();
}

qint64 PlainConnection::unsent() const
{
    return m_outgoing.size() + kernelUnsent();
}

void PlainConnection::close(std::chrono::milliseconds linger)
{
    if (m_socket < 0 || m_closing)
        return;
    m_closing = true;
    m_lingerTimer.start(linger);
    flush();
    updateNotifiers();
}

void PlainConnection::abort()
{
    m_outgoing.clear();
    release();
}

void PlainConnection::flush()
{
    while (m_socket >= 0 && !m_outgoing.isEmpty()) {
        const ssize_t count = ::send(m_socket, m_outgoing.constData(), size_t(m_outgoing.size()),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count > 0) {
            m_outgoing.remove(0, count);
        } else if (errno != EINTR) {
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return fail(errno);
            break;
        }
    }
    if (m_closing && m_outgoing.isEmpty() && !m_shutDown) {
        ::shutdown(m_socket, SHUT_WR);
        m_shutDown = true;
        finishClosing();
    }
    updateNotifiers();
}

void PlainConnection::fail(int error)
{
    if (m_socket < 0)
        return;
    m_outgoing.clear();
    if (!m_closing) {
        if (error == ECONNRESET || error == EPIPE)
            emit reset();
        else
            emit lost(systemError(error));
    }
    release();
}

// What the client still sends is read and let go until it closes too.
void PlainConnection::finishClosing()
{
    if (!m_shutDown)
        return;
    char chunk[4096];
    ssize_t count;
    while ((count = ::recv(m_socket, chunk, sizeof chunk, MSG_DONTWAIT)) > 0) { }
    if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
        release();
}

void PlainConnection::release()
{
    if (m_socket < 0)
        return;
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    m_lingerTimer.stop();
    ::close(m_socket);
    m_socket = -1;
    emit closed();
}

void PlainConnection::updateNotifiers()
{
    if (m_socket < 0)
        return;
    m_readNotifier.setEnabled(m_closing ? m_shutDown : m_reading && !m_atEnd);
    m_writeNotifier.setEnabled(!m_outgoing.isEmpty());
}
