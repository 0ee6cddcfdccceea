#include "relay_server.h"

#include "host_port.h"
#include "pseudo_terminal.h"
#include "radio_line.h"

#include <QTcpSocket>
#include <QTimer>

#include <netinet/in.h>
#include <netinet/tcp.h>
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

QString clientLabel(Session::Protocol protocol, bool audio, const QString &address)
{
    if (audio)
        return QStringLiteral("audio client ") + address;
    return (protocol == Session::Protocol::Panel ? QStringLiteral("client ") : QStringLiteral("CAT client "))
        + address;
}

} // namespace

struct RelayServer::Listener
{
    explicit Listener(Session::Protocol kind)
        : protocol(kind)
    { }

    Session::Protocol protocol;
    // Its clients hear the receiver and say nothing to the radio.
    bool audio = false;
    QTcpServer server;
    QSocketNotifier acceptor{QSocketNotifier::Read};
};

RelayServer::RelayServer(RadioLine &radio, QObject *parent)
    : QObject(parent)
    , m_radio(radio)
    , m_queue(radio)
{
    // The radio behind a port that went away has forgotten what it was
    // told: its clients start afresh once it is back.
    connect(&m_radio, &RadioLine::lost, this,
            [this] { closeNetworkClients(QStringLiteral("closed: the radio's port went away")); });
}

RelayServer::~RelayServer() = default;

QString RelayServer::behaviour()
{
    return QStringLiteral(
               "Panels on --listen are greeted with \"%1\"; CAT programs on --cat-listen and\n"
               "--cat-pty get nothing but the radio's text. Each client's whole commands (up to\n"
               "each \";\") reach the radio in turn, one query at a time, and the answer goes to\n"
               "the client that asked; what the radio reports unasked goes to the clients whose\n"
               "\"AIn;\" asks for it (a client's \"AIn;\" is its own: the radio stays at level 2\n"
               "while the relay serves). A panel's \"##\" where a command could begin ends its\n"
               "session, and a command a client leaves unfinished is dropped. Up to --max-clients\n"
               "network clients at once; another panel is sent the line \"%2\"\n"
               "and closed. A client that leaves more than %3 KiB unread is cut off, and one that\n"
               "has vanished is let go within about 30 s. Only the clients --allow names are\n"
               "served, this computer's by default; others are closed unheard. Clients coming,\n"
               "turned away and going are logged on standard error.\n\n"
               "With audio, clients on --audio-listen (admitted by the same --allow, and not\n"
               "counted in --max-clients) hear the receiver at once: Opus in RTP, each packet\n"
               "after its length in two bytes (RFC 4571); a panel's greeting then names the\n"
               "port (\"audio=PORT\" before its \";\"). One that leaves more than %4 KiB unread\n"
               "is cut off.")
        .arg(QString::fromLatin1(Greeting), QString::fromLatin1(BusyText.trimmed()))
        .arg(SocketSession::MaxBacklog / 1024)
        .arg(AudioListeners::MaxBacklog / 1024);
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

void RelayServer::setMaxClients(int maxClients)
{
    m_maxClients = maxClients;
}

bool RelayServer::listen(const QString &endpoint, Session::Protocol protocol)
{
    auto listener = openListener(endpoint, protocol);
    if (!listener)
        return false;
    m_listeners.push_back(std::move(listener));
    return true;
}

std::unique_ptr<RelayServer::Listener> RelayServer::openListener(const QString &endpoint,
                                                                 Session::Protocol protocol)
{
    const auto parsed = parseEndpoint(endpoint);
    if (!parsed) {
        m_errorString = endpointProblem(endpoint);
        return nullptr;
    }
    auto listener = std::make_unique<Listener>(protocol);
    if (!listener->server.listen(parsed->address, parsed->port)) {
        m_errorString
            = QStringLiteral("cannot listen on %1: %2").arg(endpoint, listener->server.errorString());
        return nullptr;
    }
    // Clients are accepted here rather than by the server, which asks for a
    // client's address only after taking it: one that has already reset the
    // connection by then could not be named in the log.
    listener->server.pauseAccepting();
    listener->acceptor.setSocket(listener->server.socketDescriptor());
    Listener &accepting = *listener;
    connect(&listener->acceptor, &QSocketNotifier::activated, this,
            [this, &accepting] { acceptConnections(accepting); });
    listener->acceptor.setEnabled(true);
    if (!parsed->address.isLoopback() && m_access.thisComputerOnly())
        emit message(QStringLiteral("listening on %1, which other computers can reach, but only clients "
                                    "on this one are served: --allow names the others")
                         .arg(describe(listener->server.serverAddress(), listener->server.serverPort())));
    return listener;
}

bool RelayServer::serveTerminal(const QString &linkPath)
{
    auto terminal = std::make_unique<PseudoTerminal>();
    if (!terminal->open() || !terminal->createLink(linkPath)) {
        m_errorString = terminal->errorString();
        return false;
    }
    auto *session = new TerminalSession(*terminal, QStringLiteral("CAT terminal %1").arg(linkPath), this);
    connect(session, &Session::message, this, &RelayServer::message);
    m_queue.add(session);
    m_terminals.push_back(std::move(terminal));
    return true;
}

bool RelayServer::serveAudio(const QString &endpoint, std::unique_ptr<AudioStream> stream)
{
    auto listener = openListener(endpoint, Session::Protocol::Cat);
    if (!listener)
        return false;
    listener->audio = true;
    if (!stream->start()) {
        m_errorString = stream->errorString();
        return false;
    }
    connect(stream.get(), &AudioStream::packet, &m_audioListeners, &AudioListeners::send);
    // The radio stays served without its audio.
    connect(stream.get(), &AudioStream::failed, this, [this](const QString &why) {
        emit message(QStringLiteral("audio stopped: %1").arg(why));
        m_audioListeners.closeAll(QStringLiteral("closed: the audio stopped"));
    });
    connect(&m_audioListeners, &AudioListeners::message, this, &RelayServer::message);
    m_audio = std::move(stream);
    m_audioListener = std::move(listener);
    return true;
}

QString RelayServer::audioEndpoint() const
{
    return m_audioListener
        ? describe(m_audioListener->server.serverAddress(), m_audioListener->server.serverPort())
        : QString();
}

QString RelayServer::errorString() const
{
    return m_errorString;
}

QString RelayServer::endpoint(Session::Protocol protocol) const
{
    for (const auto &listener : m_listeners) {
        if (listener->protocol == protocol)
            return describe(listener->server.serverAddress(), listener->server.serverPort());
    }
    return {};
}

int RelayServer::clientCount() const
{
    return int(std::count_if(m_clients.begin(), m_clients.end(), [](const auto &client) { return client; }));
}

void RelayServer::takeRadio()
{
    m_queue.takeRadio();
}

void RelayServer::giveRadioBack()
{
    m_queue.giveRadioBack();
}

void RelayServer::acceptConnections(Listener &listener)
{
    for (;;) {
        sockaddr_storage peer{};
        socklen_t size = sizeof peer;
        const int descriptor = ::accept4(int(listener.server.socketDescriptor()),
                                         reinterpret_cast<sockaddr *>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                backOff(listener, errno);
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
        socket->setProperty("name", clientLabel(listener.protocol, listener.audio, describe(address, port)));
        judge(socket, address, listener);
    }
}

// Out of descriptors or memory: the waiting connection would wake us again
// at once, for ever. Leave it waiting a second.
void RelayServer::backOff(Listener &listener, int error)
{
    emit message(QStringLiteral("cannot accept clients: %1; trying again in a second")
                     .arg(QString::fromLocal8Bit(std::strerror(error))));
    listener.acceptor.setEnabled(false);
    QTimer::singleShot(std::chrono::seconds(1), this, [&listener] { listener.acceptor.setEnabled(true); });
}

void RelayServer::judge(QTcpSocket *socket, const QHostAddress &address, const Listener &listener)
{
    const QString name = socket->property("name").toString();
    const Session::Protocol protocol = listener.protocol;
    if (!m_access.allows(address)) {
        emit message(QStringLiteral("refused %1: not allowed").arg(name));
        // Unread and unanswered: not even the busy line for a stranger.
        socket->abort();
        delete socket;
        return;
    }
    // A panel's audio is the same operator as the panel: it does not take
    // a client's place.
    if (listener.audio) {
        watch(socket);
        emit message(QStringLiteral("accepted %1").arg(name));
        m_audioListeners.add(socket);
        return;
    }
    if (!hasRoom()) {
        emit message(QStringLiteral("refused %1: busy with %2 clients").arg(name).arg(clientCount()));
        if (protocol == Session::Protocol::Panel)
            socket->write(BusyText.toByteArray());
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        socket->disconnectFromHost();
        if (socket->state() == QAbstractSocket::UnconnectedState)
            socket->deleteLater();
        return;
    }
    watch(socket);
    auto *session = new SocketSession(socket, protocol, name, this);
    emit message(QStringLiteral("accepted %1").arg(name));
    if (protocol == Session::Protocol::Panel)
        session->deliver(greeting());
    m_clients.append(session);
    serve(session);
}

QByteArray RelayServer::greeting() const
{
    if (!m_audioListener)
        return Greeting.toByteArray();
    return QString::fromLatin1(AudioGreeting).arg(m_audioListener->server.serverPort()).toLatin1();
}

bool RelayServer::hasRoom()
{
    if (clientCount() < m_maxClients)
        return true;
    for (const QPointer<SocketSession> &client : QList(m_clients)) {
        if (client)
            client->hungUp();
    }
    return clientCount() < m_maxClients;
}

// Keep-alive probes find a client whose end has gone silent; the user
// timeout ends the connection once nothing, probe answer or acknowledgement,
// has come back for the whole silence. Small writes leave at once, and the
// kernel's send buffer stays small (see SocketSession).
void RelayServer::watch(QTcpSocket *socket)
{
    const int descriptor = int(socket->socketDescriptor());
    const auto set = [descriptor](int level, int option, int value) {
        return ::setsockopt(descriptor, level, option, &value, sizeof value) == 0;
    };
    const bool watched = set(SOL_SOCKET, SO_KEEPALIVE, 1)
        && set(IPPROTO_TCP, TCP_KEEPIDLE, int(m_liveness.idle.count()))
        && set(IPPROTO_TCP, TCP_KEEPINTVL, int(m_liveness.interval.count()))
        && set(IPPROTO_TCP, TCP_KEEPCNT, m_liveness.probes)
        && set(IPPROTO_TCP, TCP_USER_TIMEOUT, int(m_liveness.silence.count()))
        && set(IPPROTO_TCP, TCP_NODELAY, 1) && set(SOL_SOCKET, SO_SNDBUF, SocketSession::SendBuffer);
    if (!watched)
        emit message(QStringLiteral("%1 cannot be watched for silence: %2")
                         .arg(socket->property("name").toString(), QString::fromLocal8Bit(std::strerror(errno))));
}

void RelayServer::serve(Session *session)
{
    connect(session, &Session::message, this, &RelayServer::message);
    connect(session, &Session::ended, this, [this, session] {
        m_queue.remove(session);
        m_clients.removeAll(session);
        session->deleteLater();
    });
    m_queue.add(session);
}

void RelayServer::closeNetworkClients(const QString &why)
{
    for (const QPointer<SocketSession> &client : QList(m_clients)) {
        if (client)
            client->end(why);
    }
}
