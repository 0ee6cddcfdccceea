#include "relay_server.h"

#include "host_port.h"
#include "radio_line.h"

#include <QTcpSocket>
#include <QTimer>

#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
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
    const auto split = splitHostPort(text);
    if (!split || !split->port)
        return std::nullopt;
    auto address
        = split->host == u"localhost" ? QHostAddress(QHostAddress::LocalHost) : parseAddress(split->host);
    if (!address)
        return std::nullopt;
    // "::" means every address, and IPv4 clients are served there too.
    if (*address == QHostAddress(QHostAddress::AnyIPv6))
        address = QHostAddress::Any;
    return Endpoint{*address, *split->port};
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

RelayServer::RelayServer(RadioLine &radio, QObject *parent)
    : QObject(parent)
    , m_radio(radio)
{
    connect(&m_acceptor, &QSocketNotifier::activated, this, &RelayServer::acceptConnections);
    connect(&m_radio, &RadioLine::received, this, &RelayServer::sendToClient);
    connect(&m_radio, &RadioLine::drained, this, &RelayServer::readClient);
    connect(&m_radio, &RadioLine::lost, this,
            [this] { closeClient(QStringLiteral("the radio's port went away")); });
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
    return QStringLiteral("Each client is greeted with \"%1\", then the radio's bytes pass to it\n"
                          "unchanged and its whole commands (up to each \";\") to the radio; its \"##\"\n"
                          "where a command could begin ends its session, and a command it leaves\n"
                          "unfinished is dropped. One client at a time:\n"
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
    if (!parsed->address.isLoopback() && m_access.thisComputerOnly())
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
    if (unreadByClient() + data.size() > MaxClientBacklog) {
        endSession(QStringLiteral("is not reading; cut off"), Parting::CutOff);
        return;
    }
    m_client->write(data);
}

// What the client has not taken yet: in our buffer and in the kernel's.
qint64 RelayServer::unreadByClient() const
{
    int queued = 0;
    if (::ioctl(int(m_client->socketDescriptor()), SIOCOUTQ, &queued) != 0)
        queued = 0;
    return m_client->bytesToWrite() + queued;
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
    m_framer.emplace(true);
    watchLiveness(socket);
    limitSendBuffer(socket);
    socket->setReadBufferSize(ClientReadBuffer);
    connect(socket, &QTcpSocket::readyRead, this, &RelayServer::readClient);
    connect(socket, &QTcpSocket::errorOccurred, this, &RelayServer::clientFailed);
    connect(socket, &QTcpSocket::disconnected, this,
            [this] { endSession(QStringLiteral("closed the connection")); });
    emit message(QStringLiteral("accepted client %1").arg(name));
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

void RelayServer::limitSendBuffer(QTcpSocket *socket)
{
    const int size = ClientSendBuffer;
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
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

// Left unread while the radio is busy; its draining reads on.
void RelayServer::readClient()
{
    if (m_client && !m_radio.isBusy())
        relayFromClient(m_client->readAll());
}

void RelayServer::relayFromClient(QByteArrayView data)
{
    if (!m_client)
        return;
    const CommandFramer::Cut cut = m_framer->feed(data);
    if (!cut.commands.isEmpty())
        m_radio.send(cut.commands.join());
    if (cut.signedOff)
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
    if (const qsizetype left = m_framer->unfinished().size())
        emit message(QStringLiteral("client %1 left %2 bytes of a command unfinished; dropped")
                         .arg(m_clientName)
                         .arg(left));
}
