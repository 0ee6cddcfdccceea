#include "relay_server.h"

#include <QTcpSocket>
#include <QTimer>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace {

struct Endpoint
{
    QHostAddress address;
    quint16 port = 0;
};

std::optional<Endpoint> parseEndpoint(const QString &text)
{
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0)
        return std::nullopt;
    QString host = text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    QHostAddress address = host == u"localhost" ? QHostAddress(QHostAddress::LocalHost) : QHostAddress(host);
    // "::" means every address, and IPv4 clients are served there too.
    if (address == QHostAddress(QHostAddress::AnyIPv6))
        address = QHostAddress::Any;
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    if (address.isNull() || !ok || port > 65535)
        return std::nullopt;
    return Endpoint{address, quint16(port)};
}

QString describe(const QHostAddress &address, quint16 port)
{
    QString host = address.toString();
    if (address.protocol() == QAbstractSocket::AnyIPProtocol)
        host = QStringLiteral("[::]");
    else if (address.protocol() == QAbstractSocket::IPv6Protocol)
        host = u'[' + host + u']';
    return host + u':' + QString::number(port);
}

// Lets queued bytes go out first, then frees the socket.
void closeAndDelete(QTcpSocket *socket)
{
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
}

} // namespace

RelayServer::RelayServer(QObject *parent)
    : QObject(parent)
{
    connect(&m_acceptor, &QSocketNotifier::activated, this, &RelayServer::acceptConnections);
}

// The client socket is a child of ours and dies after our members; its last
// disconnected() must not reach us any more.
RelayServer::~RelayServer()
{
    if (m_client)
        m_client->disconnect(this);
}

QString RelayServer::behaviour()
{
    return QStringLiteral("Each client is greeted with \"%1\", then bytes pass both ways\n"
                          "unchanged; the client's \"##\" ends its session. One client at a time:\n"
                          "another one is sent the line \"%2\"\n"
                          "and closed at once. A client that leaves more than %3 KiB unread is cut off,\n"
                          "and one that has vanished is let go within about 30 s. Only the clients\n"
                          "--allow names are served, loopback ones by default; others are closed unheard.\n"
                          "Clients coming, turned away and going are logged on standard error.")
        .arg(QString::fromLatin1(Greeting), QString::fromLatin1(BusyText.trimmed()))
        .arg(MaxClientBacklog / 1024);
}

QString RelayServer::endpointProblem(const QString &endpoint)
{
    if (parseEndpoint(endpoint))
        return {};
    return QStringLiteral("bad listen address \"%1\" (expected ADDRESS:PORT, e.g. 127.0.0.1:2300)")
        .arg(endpoint);
}

void RelayServer::setAccess(const AccessList &access)
{
    m_access = access;
}

void RelayServer::setLiveness(const Liveness &liveness)
{
    m_liveness = liveness;
}

bool RelayServer::listen(const QString &endpoint)
{
    const auto parsed = parseEndpoint(endpoint);
    if (!parsed) {
        m_errorString = endpointProblem(endpoint);
        return false;
    }
    if (!m_server.listen(parsed->address, parsed->port)) {
        m_errorString = QStringLiteral("cannot listen on %1: %2").arg(endpoint, m_server.errorString());
        return false;
    }
    // Clients are accepted here rather than by m_server, which asks for a
    // client's address only after taking it: one that has already reset the
    // connection by then could not be named in the log.
    m_server.pauseAccepting();
    m_acceptor.setSocket(m_server.socketDescriptor());
    m_acceptor.setEnabled(true);
    if (!parsed->address.isLoopback() && m_access.loopbackOnly())
        emit message(QStringLiteral("listening on %1, which other computers can reach, but only clients "
                                    "on this one are served: --allow names the others")
                         .arg(this->endpoint()));
    return true;
}

QString RelayServer::errorString() const
{
    return m_errorString;
}

QString RelayServer::endpoint() const
{
    return describe(m_server.serverAddress(), m_server.serverPort());
}

void RelayServer::sendToClient(const QByteArray &data)
{
    if (!m_client)
        return;
    if (m_client->bytesToWrite() + data.size() > MaxClientBacklog) {
        endSession(QStringLiteral("is not reading; cut off"), Parting::CutOff);
        return;
    }
    m_client->write(data);
}

void RelayServer::closeClient(const QString &why)
{
    endSession(QStringLiteral("closed: %1").arg(why));
}

void RelayServer::acceptConnections()
{
    for (;;) {
        sockaddr_storage peer{};
        socklen_t size = sizeof peer;
        const int descriptor
            = ::accept4(int(m_server.socketDescriptor()), reinterpret_cast<sockaddr *>(&peer), &size,
                        SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                backOff(errno);
            return;
        }
        auto *socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            ::close(descriptor);
            delete socket;
            continue;
        }
        const QHostAddress address = plainAddress(QHostAddress(reinterpret_cast<const sockaddr *>(&peer)));
        const quint16 port
            = ntohs(peer.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 &>(peer).sin6_port
                                               : reinterpret_cast<sockaddr_in &>(peer).sin_port);
        judge(socket, address, describe(address, port));
    }
}

// Out of descriptors or memory: the waiting connection would wake us again
// at once, for ever. Leave it waiting a second.
void RelayServer::backOff(int error)
{
    emit message(QStringLiteral("cannot accept clients: %1; trying again in a second")
                     .arg(QString::fromLocal8Bit(std::strerror(error))));
    m_acceptor.setEnabled(false);
    QTimer::singleShot(std::chrono::seconds(1), this, [this] { m_acceptor.setEnabled(true); });
}

void RelayServer::judge(QTcpSocket *socket, const QHostAddress &address, const QString &name)
{
    if (!m_access.allows(address)) {
        emit message(QStringLiteral("refused client %1: not allowed").arg(name));
        // Unread and unanswered: not even the busy line for a stranger.
        socket->abort();
        delete socket;
        return;
    }
    if (m_client)
        noticeHangUp();
    if (m_client)
        refuse(socket, name);
    else
        serve(socket, name);
}

void RelayServer::serve(QTcpSocket *socket, const QString &name)
{
    m_client = socket;
    m_clientName = name;
    m_holdingHash = false;
    watchLiveness(socket);
    connect(socket, &QTcpSocket::readyRead, this, &RelayServer::readClient);
    connect(socket, &QTcpSocket::errorOccurred, this, &RelayServer::clientFailed);
    connect(socket, &QTcpSocket::disconnected, this,
            [this] { endSession(QStringLiteral("closed the connection")); });
    emit message(QStringLiteral("accepted client %1").arg(name));
    emit sessionStarted();
    socket->write(Greeting.toByteArray());
}

void RelayServer::refuse(QTcpSocket *socket, const QString &name)
{
    emit message(QStringLiteral("refused client %1: busy with %2").arg(name, m_clientName));
    socket->write(BusyText.toByteArray());
    closeAndDelete(socket);
}

// Keep-alive probes find a client whose end has gone silent; the user
// timeout ends the connection once nothing, probe answer or acknowledgement,
// has come back for the whole silence.
void RelayServer::watchLiveness(QTcpSocket *socket)
{
    const int descriptor = int(socket->socketDescriptor());
    const auto set = [descriptor](int level, int option, int value) {
        return ::setsockopt(descriptor, level, option, &value, sizeof value) == 0;
    };
    const bool watched = set(SOL_SOCKET, SO_KEEPALIVE, 1)
        && set(IPPROTO_TCP, TCP_KEEPIDLE, int(m_liveness.idle.count()))
        && set(IPPROTO_TCP, TCP_KEEPINTVL, int(m_liveness.interval.count()))
        && set(IPPROTO_TCP, TCP_KEEPCNT, m_liveness.probes)
        && set(IPPROTO_TCP, TCP_USER_TIMEOUT, int(m_liveness.silence.count()));
    if (!watched)
        emit message(QStringLiteral("client %1 cannot be watched for silence: %2")
                         .arg(m_clientName, QString::fromLocal8Bit(std::strerror(errno))));
}

// A client's hang-up and a newcomer's arrival can be noticed in either
// order. Before the newcomer is turned away as a second client, what the
// served one left behind and its hang-up are taken now.
void RelayServer::noticeHangUp()
{
    const int descriptor = int(m_client->socketDescriptor());
    pollfd hangUp{descriptor, POLLRDHUP, 0};
    if (::poll(&hangUp, 1, 0) != 1)
        return;
    QByteArray rest = m_client->readAll();
    char chunk[4096];
    for (ssize_t size; (size = ::recv(descriptor, chunk, sizeof chunk, MSG_DONTWAIT)) > 0;)
        rest.append(chunk, size);
    relayFromClient(rest);
    endSession(QStringLiteral("closed the connection"));
}

void RelayServer::readClient()
{
    relayFromClient(m_client->readAll());
}

// The sign-off may be split across reads, so a trailing '#' is held back
// until the next byte shows what it was.
void RelayServer::relayFromClient(QByteArray data)
{
    if (!m_client)
        return;
    if (m_holdingHash)
        data.prepend('#');
    const qsizetype signOff = data.indexOf(SignOff);
    if (signOff >= 0)
        data.truncate(signOff);
    m_holdingHash = signOff < 0 && data.endsWith('#');
    if (m_holdingHash)
        data.chop(1);
    if (!data.isEmpty())
        emit clientData(data);
    if (signOff >= 0)
        endSession(QStringLiteral("signed off"));
}

void RelayServer::clientFailed()
{
    if (m_client->error() == QAbstractSocket::RemoteHostClosedError)
        endSession(QStringLiteral("closed the connection"));
    else
        endSession(QStringLiteral("lost: %1").arg(m_client->errorString()));
}

void RelayServer::endSession(const QString &what, Parting parting)
{
    if (!m_client)
        return;
    QTcpSocket *socket = m_client;
    m_client = nullptr;
    socket->disconnect(this);
    if (parting == Parting::CutOff) {
        socket->abort();
        socket->deleteLater();
    } else {
        closeAndDelete(socket);
    }
    emit message(QStringLiteral("client %1 %2").arg(m_clientName, what));
}
