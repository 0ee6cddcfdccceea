#include "relay_server.h"

#include "host_port.h"
#include "pseudo_terminal.h"
#include "radio_line.h"
#include "secure_connection.h"

#include <QCoreApplication>
#include <QDir>

#include <sys/resource.h>
#include <unistd.h>

#include <optional>

namespace {

constexpr QStringView SecurePrefix = u"tls:";

struct Address
{
    QHostAddress host;
    quint16 port = 0;
    bool secure = false;
};

std::optional<Address> parseEndpoint(QString text)
{
    const bool secure = text.startsWith(SecurePrefix);
    if (secure)
        text.remove(0, SecurePrefix.size());
    const auto split = splitHostPort(text);
    if (!split || !split->port)
        return std::nullopt;
    const auto address
        = split->host == u"localhost" ? QHostAddress(QHostAddress::LocalHost) : parseAddress(split->host);
    if (!address)
        return std::nullopt;
    return Address{*address, *split->port, secure};
}

} // namespace

struct RelayServer::Endpoint
{
    Endpoint(Session::Protocol protocol, bool audio, bool secure)
        : protocol(protocol)
        , audio(audio)
        , secure(secure)
    { }

    QString name() const { return (secure ? SecurePrefix.toString() : QString()) + listener.endpoint(); }

    Session::Protocol protocol;
    // Its clients hear the receiver and say nothing to the radio.
    bool audio;
    // Its clients link over TLS and are served by their keys.
    bool secure;
    Listener listener;
};

// A pseudo-terminal and the program that has it open, if any.
struct RelayServer::Terminal
{
    explicit Terminal(const QString &name)
        : name(name)
    { }

    QString name;
    PseudoTerminal line;
    QPointer<TerminalSession> program;
};

RelayServer::RelayServer(RadioLine &radio, QObject *parent)
    : QObject(parent)
    , m_radio(radio)
    , m_queue(radio)
    , m_transmitter(m_queue, radio)
    , m_audio(m_transmitter)
{
    m_queue.setTransmitter(&m_transmitter);
    connect(&m_audio, &RelayAudio::message, this, &RelayServer::message);
    connect(&m_audio, &RelayAudio::flowingChanged, this, &RelayServer::offerAudio);
    connect(&m_queue, &RadioQueue::message, this, &RelayServer::message);
    connect(&m_transmitter, &Transmitter::message, this, &RelayServer::message);
    connect(&m_operators, &Operators::message, this, &RelayServer::message);
    connect(&m_operators, &Operators::changed, this, &RelayServer::revokeUnknownKeys);
    connect(&m_handshakes, &Handshakes::message, this, &RelayServer::message);
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
               "each \";\") reach the radio in turn; every answer goes to the client that asked,\n"
               "and what the radio reports unasked to the clients whose \"AIn;\" asks for it (a\n"
               "client's \"AIn;\" is its own: the radio stays at level 2 while the relay serves).\n"
               "A command holding control bytes is answered \"?;\" and goes no further. A panel's\n"
               "\"##\" where a command could begin ends its session; a client that signs off or\n"
               "closes still has what it sent whole delivered, and a command it leaves\n"
               "unfinished is dropped. A program closing a --cat-pty terminal ends its session:\n"
               "the next program to open it starts afresh. Up to --max-clients network clients\n"
               "at once; another panel is sent the line \"%2\"\n"
               "and closed. A client that leaves more than %3 KiB unread is cut off, and one that\n"
               "has vanished is let go within about 30 s. Only the clients --allow names are\n"
               "served, this computer's by default; others are closed unheard. Clients coming,\n"
               "turned away and going are logged on standard error.\n\n"
               "With audio, a panel's greeting names the audio port and gives the panel its pass\n"
               "for UDP (\"udp=PASS audio=PORT\" before its \";\"). Over UDP the receiver goes, as\n"
               "Opus in RTP (SRTP on a secure link), to the address the panel's signed reports\n"
               "come from, until they stop for 2 s or its link ends. Clients on --audio-listen\n"
               "over TCP (admitted by the same --allow, up to --max-audio-clients, and not\n"
               "counted in --max-clients) hear it at once, each packet after its length in two\n"
               "bytes (RFC 4571); one that leaves more than %4 KiB unread is cut off.\n"
               "A panel that holds the transmitter sends its operator's audio back the same way\n"
               "(on TCP after a report signed with its pass), which --audio-sink plays while it\n"
               "holds it.")
        .arg(QString::fromLatin1(Greeting).arg(Transmitter::DefaultLimit.count()),
             QString::fromLatin1(BusyText.trimmed()))
        .arg(SocketSession::MaxBacklog / 1024)
        .arg(AudioListeners::MaxBacklog / 1024);
}

QString RelayServer::endpointProblem(const QString &endpoint)
{
    if (parseEndpoint(endpoint))
        return {};
    return QStringLiteral("bad listen address \"%1\" (expected ADDRESS:PORT, e.g. 127.0.0.1:2300, or "
                          "tls:ADDRESS:PORT for a secure one)")
        .arg(endpoint);
}

void RelayServer::setAccess(const AccessList &access)
{
    m_access = access;
}

bool RelayServer::useKeys(const QString &keyFile, const QString &operatorsFile)
{
    m_identity = Identity::loadOrCreate(keyFile, QCoreApplication::applicationName(), &m_errorString);
    if (!m_identity)
        return false;
    m_operators.watch(operatorsFile);
    return true;
}

void RelayServer::setLiveness(const Liveness &liveness)
{
    m_liveness = liveness;
}

void RelayServer::setMaxClients(int maxClients)
{
    m_maxClients = maxClients;
}

void RelayServer::setTerminalGroup(const QString &group, bool required)
{
    m_terminalGroup = group;
    m_terminalGroupRequired = required;
}

void RelayServer::setMaxAudioClients(int maxAudioClients)
{
    m_maxAudioClients = maxAudioClients;
}

bool RelayServer::listen(const QString &endpoint, Session::Protocol protocol)
{
    return openEndpoint(endpoint, protocol, false);
}

RelayServer::Endpoint *RelayServer::openEndpoint(const QString &address, Session::Protocol protocol,
                                                 bool audio)
{
    const auto parsed = parseEndpoint(address);
    if (!parsed) {
        m_errorString = endpointProblem(address);
        return nullptr;
    }
    if (parsed->secure && !m_identity) {
        m_errorString = QStringLiteral("cannot listen on %1: the relay has no key").arg(address);
        return nullptr;
    }
    auto endpoint = std::make_unique<Endpoint>(protocol, audio, parsed->secure);
    if (!endpoint->listener.listen(parsed->host, parsed->port)) {
        m_errorString
            = QStringLiteral("cannot listen on %1: %2").arg(address, endpoint->listener.errorString());
        return nullptr;
    }
    Endpoint &serving = *endpoint;
    connect(&endpoint->listener, &Listener::incoming, this,
            [this, &serving](int descriptor, const QHostAddress &from, quint16 port) {
                judge(descriptor, from, port, serving);
            });
    connect(&endpoint->listener, &Listener::message, this, &RelayServer::message);
    if (!m_access.admitsAnyReaching(parsed->host))
        emit message(QStringLiteral("listening on %1, but no client that can reach it is on the --allow "
                                    "list: every one is refused")
                         .arg(endpoint->name()));
    else if (!parsed->host.isLoopback() && m_access.thisComputerOnly())
        emit message(QStringLiteral("listening on %1, which other computers can reach, but only clients "
                                    "on this one are served: --allow names the others")
                         .arg(endpoint->name()));
    m_endpoints.push_back(std::move(endpoint));
    return m_endpoints.back().get();
}

bool RelayServer::serveTerminal(const QString &linkPath)
{
    auto terminal = std::make_unique<Terminal>(QStringLiteral("CAT terminal %1").arg(linkPath));
    PseudoTerminal &line = terminal->line;
    if (!line.open() || !line.watchPrograms() || !line.createLink(linkPath)) {
        m_errorString = line.errorString();
        return false;
    }
    if (!m_terminalGroup.isEmpty() && !line.shareWithGroup(m_terminalGroup)) {
        m_errorString = QStringLiteral("%1: %2").arg(terminal->name, line.errorString());
        if (m_terminalGroupRequired)
            return false;
        emit message(QStringLiteral("%1; only the relay's own user may open it").arg(m_errorString));
    }
    Terminal &serving = *terminal;
    connect(&line, &PseudoTerminal::programOpened, this, [this, &serving] { programOpened(serving); });
    connect(&line, &PseudoTerminal::received, this, [&serving](const QByteArray &data) {
        if (serving.program)
            serving.program->received(data);
    });
    connect(&line, &PseudoTerminal::programClosed, this, [&serving] {
        if (serving.program)
            serving.program->closed();
        serving.program = nullptr;
    });
    connect(&line, &PseudoTerminal::dropped, this, [this, &serving](qsizetype bytes) {
        emit message(QStringLiteral("%1: %2 bytes came as one program closed it and another opened it, and "
                                    "cannot be told apart; dropped")
                         .arg(serving.name)
                         .arg(bytes));
    });
    m_terminals.push_back(std::move(terminal));
    return true;
}

void RelayServer::programOpened(Terminal &terminal)
{
    emit message(QStringLiteral("%1 opened by a program").arg(terminal.name));
    auto *session = new TerminalSession(m_queue, terminal.line, terminal.name, this);
    terminal.program = session;
    serve(session);
}

bool RelayServer::serveAudio(const QString &endpoint, std::unique_ptr<AudioStream> stream)
{
    Endpoint *listening = openEndpoint(endpoint, Session::Protocol::Cat, true);
    if (!listening)
        return false;
    m_audioEndpoint = listening;
    if (QString problem; !m_audio.serve(std::move(stream), listening->listener.address(),
                                        listening->listener.port(), &problem))
        emit message(QStringLiteral("no audio over UDP on %1: %2; it goes over TCP only")
                         .arg(listening->name(), problem));
    return true;
}

void RelayServer::playTransmitAudio(const QString &sink)
{
    m_audio.playInto(sink);
}

// A panel hears of the audio in the greeting, sent again to the panels
// linked when the audio comes or goes.
void RelayServer::offerAudio()
{
    const bool offering = m_audio.isFlowing();
    if (offering == std::exchange(m_offered, offering))
        return;
    for (SocketSession *session : std::as_const(m_clients)) {
        if (session && session->protocol() == Session::Protocol::Panel)
            session->deliver(greeting(session));
    }
}

QString RelayServer::audioEndpoint() const
{
    return m_audioEndpoint ? m_audioEndpoint->name() : QString();
}

QString RelayServer::errorString() const
{
    return m_errorString;
}

QString RelayServer::endpoint(Session::Protocol protocol) const
{
    for (const auto &endpoint : m_endpoints) {
        if (endpoint->protocol == protocol && !endpoint->audio)
            return endpoint->name();
    }
    return {};
}

int RelayServer::clientCount() const
{
    return int(std::count_if(m_clients.begin(), m_clients.end(),
                             [](const auto &client) { return client && client->holdsPlace(); }));
}

void RelayServer::takeRadio()
{
    m_queue.takeRadio();
}

void RelayServer::giveRadioBack()
{
    m_transmitter.release();
    m_queue.giveRadioBack();
}

void RelayServer::judge(int descriptor, const QHostAddress &address, quint16 port, const Endpoint &endpoint)
{
    const QString where = joinHostPort(address, port);
    Connection *connection = endpoint.secure ? static_cast<Connection *>(new SecureConnection(
                                 descriptor, where, m_identity->tlsConfiguration(), this))
                                             : new PlainConnection(descriptor, where, this);
    const QString name = clientName(endpoint, *connection);
    if (!m_access.allows(address)) {
        // Unread and unanswered: not even the busy line for a stranger.
        emit message(QStringLiteral("refused %1: not allowed").arg(name));
        connect(connection, &Connection::closed, connection, &QObject::deleteLater);
        connection->abort();
        return;
    }
    QString problem;
    // A small buffer shows a control client's backlog early; audio on a long
    // path needs the kernel's own, or it arrives in bursts.
    const int sendBuffer = endpoint.audio ? 0 : SocketSession::SendBuffer;
    if (!connection->watch(m_liveness, sendBuffer, &problem))
        emit message(QStringLiteral("%1 cannot be watched for silence: %2").arg(name, problem));
    if (endpoint.secure)
        return m_handshakes.start(static_cast<SecureConnection *>(connection),
                                  [this, &endpoint](Connection *verified) { admit(verified, endpoint); });
    admit(connection, endpoint);
}

QString RelayServer::clientName(const Endpoint &endpoint, const Connection &connection)
{
    return (endpoint.audio                                      ? QStringLiteral("audio client ")
                : endpoint.protocol == Session::Protocol::Panel ? QStringLiteral("client ")
                                                                : QStringLiteral("CAT client "))
        + connection.name();
}

// On a secure endpoint, only the keys of the station's operators.
void RelayServer::admit(Connection *connection, const Endpoint &endpoint)
{
    const QString name = clientName(endpoint, *connection);
    std::optional<Operator> known;
    if (endpoint.secure) {
        known = m_operators.find(connection->fingerprint());
        if (!known) {
            emit message(QStringLiteral("refused %1: its key %2 is not an operator's")
                             .arg(name, connection->fingerprint()));
            connect(connection, &Connection::closed, connection, &QObject::deleteLater);
            return connection->abort();
        }
    }
    if (endpoint.audio)
        return admitAudio(connection, known ? QStringLiteral(" (%1)").arg(known->name) : QString());
    if (clientCount() >= m_maxClients) {
        const QByteArray busy
            = endpoint.protocol == Session::Protocol::Panel ? BusyText.toByteArray() : QByteArray();
        return turnAway(connection,
                        QStringLiteral("refused %1: busy with %2 clients").arg(name).arg(clientCount()),
                        busy);
    }
    auto *session = new SocketSession(m_queue, connection, endpoint.protocol, this);
    if (known)
        session->identify(m_operators, connection->fingerprint());
    emit message(known ? QStringLiteral("accepted %1, key %2, role %3")
                             .arg(session->name(), connection->fingerprint(), nameOf(known->role))
                       : QStringLiteral("accepted %1").arg(name));
    if (endpoint.protocol == Session::Protocol::Panel)
        session->deliver(greeting(session));
    m_clients.append(session);
    serve(session);
}

// A panel's audio is the same operator as the panel: it does not take a
// client's place, but it has a limit of its own.
void RelayServer::admitAudio(Connection *connection, const QString &operatorName)
{
    const QString name = QStringLiteral("audio client ") + connection->name() + operatorName;
    if (m_audio.tcpListenerCount() >= m_maxAudioClients)
        return turnAway(connection,
                        QStringLiteral("refused %1: busy with %2 audio clients")
                            .arg(name)
                            .arg(m_audio.tcpListenerCount()));
    if (!descriptorsToSpare())
        return turnAway(connection, QStringLiteral("refused %1: too few descriptors left").arg(name));
    emit message(QStringLiteral("accepted %1").arg(name));
    m_audio.addListener(connection);
}

// Told, if at all, and let go at once.
void RelayServer::turnAway(Connection *connection, const QString &why, const QByteArray &text)
{
    emit message(why);
    connect(connection, &Connection::closed, connection, &QObject::deleteLater);
    connection->write(text);
    connection->close(std::chrono::milliseconds(0));
}

QByteArray RelayServer::greeting(const Session *session)
{
    const qint64 limit = m_transmitter.limit().count();
    if (!m_audio.isFlowing())
        return QString::fromLatin1(Greeting).arg(limit).toLatin1();
    return QString::fromLatin1(AudioGreeting)
        .arg(limit)
        .arg(QString::fromLatin1(m_audio.passFor(*session).text()))
        .arg(m_audioEndpoint->listener.port())
        .toLatin1();
}

// Enough left for every client the relay may serve, and some.
bool RelayServer::descriptorsToSpare() const
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return true;
    const qsizetype open = QDir(QStringLiteral("/proc/self/fd"))
                               .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                               .size();
    return qint64(limit.rlim_cur) - open > m_maxClients + SpareDescriptors;
}

void RelayServer::serve(Session *session)
{
    connect(session, &Session::message, this, &RelayServer::message);
    connect(session, &Session::ended, this, [this, session] {
        m_audio.forget(*session);
        m_clients.removeAll(session);
        session->deleteLater();
    });
}

// A key taken off the list is cut off at once, whatever it was doing.
void RelayServer::revokeUnknownKeys()
{
    const auto revoked = [this](const QString &fingerprint) {
        return !fingerprint.isEmpty() && !m_operators.find(fingerprint);
    };
    for (const QPointer<SocketSession> &client : QList(m_clients)) {
        if (client && revoked(client->fingerprint()))
            client->cutOff(
                QStringLiteral("cut off: its key %1 is no longer an operator's").arg(client->fingerprint()));
    }
    m_audio.dropListenersIf(
        [&revoked](const Connection &connection) { return revoked(connection.fingerprint()); },
        QStringLiteral("cut off: its key is no longer an operator's"));
}

void RelayServer::closeNetworkClients(const QString &why)
{
    for (const QPointer<SocketSession> &client : QList(m_clients)) {
        if (client)
            client->cutOff(why);
    }
}
