#include "server_options.h"

#include "access_list.h"
#include "audio_stream.h"
#include "console.h"
#include "identity.h"
#include "relay_server.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
const QString Listen = QStringLiteral("listen");
const QString CatListen = QStringLiteral("cat-listen");
const QString CatPty = QStringLiteral("cat-pty");
const QString CatPtyGroup = QStringLiteral("cat-pty-group");
const QString Allow = QStringLiteral("allow");
const QString MaxClients = QStringLiteral("max-clients");
const QString AudioListen = QStringLiteral("audio-listen");
const QString MaxAudioClients = QStringLiteral("max-audio-clients");
const QString State = QStringLiteral("state");
const QString OperatorsFile = QStringLiteral("operators");
const QString Fingerprint = QStringLiteral("fingerprint");
const QString Ptt = QStringLiteral("ptt");
const QString MaxTransmit = QStringLiteral("max-transmit");
const QString AudioSink = QStringLiteral("audio-sink");
// A transmit-time limit of more than an hour is no limit.
constexpr int LongestTransmit = 3600;
constexpr int MostClients = 64;
const QString KeyFile = QStringLiteral("key.pem");

// The service's state folder, the package's, or the user's.
QString stateFolder(const QCommandLineParser &parser)
{
    if (parser.isSet(State))
        return parser.value(State);
    const QString service = qEnvironmentVariable("STATE_DIRECTORY").section(u':', 0, 0);
    if (!service.isEmpty())
        return service;
    const QString package = QStringLiteral("/var/lib/%1").arg(QCoreApplication::applicationName());
    if (QFileInfo::exists(package))
        return package;
    const QString home
        = qEnvironmentVariable("XDG_STATE_HOME", QDir::homePath() + QStringLiteral("/.local/state"));
    return home + u'/' + QCoreApplication::applicationName();
}

QString operatorsFile(const QCommandLineParser &parser)
{
    return parser.isSet(OperatorsFile) ? parser.value(OperatorsFile)
                                       : stateFolder(parser) + QStringLiteral("/operators");
}

QString keyFile(const QCommandLineParser &parser)
{
    return stateFolder(parser) + u'/' + KeyFile;
}

bool anySecure(const QCommandLineParser &parser)
{
    for (const QString &option : {Listen, CatListen, AudioListen}) {
        if (parser.value(option).startsWith(QStringLiteral("tls:")))
            return true;
    }
    return false;
}

// A secure endpoint needs the relay's key, and serves the operators.
bool prepareSecurity(RelayServer &server, const QCommandLineParser &parser)
{
    return !anySecure(parser) || server.useKeys(keyFile(parser), operatorsFile(parser));
}

} // namespace

void addServerOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        {Listen,
         QStringLiteral("Serve panels on ADDRESS:PORT (port 0 picks a free one; an IPv6 address goes in "
                        "brackets, and [::]:2300 serves every address). Default: 127.0.0.1:2300."),
         QStringLiteral("ADDRESS:PORT"), QStringLiteral("127.0.0.1:2300")},
        {CatListen,
         QStringLiteral("Serve CAT programs (Hamlib's rigctld -r ADDRESS:PORT and the like) on "
                        "ADDRESS:PORT: plain CAT text, no greeting. E.g. 127.0.0.1:4533, leaving "
                        "4532 to rigctld."),
         QStringLiteral("ADDRESS:PORT")},
        {CatPty,
         QStringLiteral("Serve a CAT program that opens serial ports only on a pseudo-terminal, and make "
                        "PATH a symlink to it (removed on exit). May be given more than once."),
         QStringLiteral("PATH")},
        {CatPtyGroup,
         QStringLiteral("Let the members of GROUP open the --cat-pty terminals (read and write), as they "
                        "may open serial ports. Default: %1.")
             .arg(RelayServer::DefaultTerminalGroup),
         QStringLiteral("GROUP"), RelayServer::DefaultTerminalGroup.toString()},
        {Allow,
         QStringLiteral("Serve only clients from LIST: addresses and networks, IPv4 or IPv6, separated "
                        "by commas (192.168.1.0/24,fd00::/8,10.0.0.7), or \"any\". Default: this "
                        "computer only (loopback and its own addresses), whatever --listen says."),
         QStringLiteral("LIST")},
        {MaxClients,
         QStringLiteral("Serve at most N network clients at once, panels and CAT programs together "
                        "(1 to %1). Default: %2.")
             .arg(MostClients)
             .arg(RelayServer::DefaultMaxClients),
         QStringLiteral("N"), QString::number(RelayServer::DefaultMaxClients)},
        {MaxAudioClients,
         QStringLiteral("Serve the receiver's audio to at most N clients at once (1 to %1). Default: %2.")
             .arg(MostClients)
             .arg(RelayServer::DefaultMaxAudioClients),
         QStringLiteral("N"), QString::number(RelayServer::DefaultMaxAudioClients)},
        {AudioListen,
         QStringLiteral("Serve the receiver's audio on ADDRESS:PORT. Default: the --listen address, two "
                        "ports up (127.0.0.1:2302)."),
         QStringLiteral("ADDRESS:PORT")},
        {State,
         QStringLiteral("Keep the relay's key (made on first use) in DIR. Default: the service's state "
                        "folder, /var/lib/%1 where it exists, or ~/.local/state/%1.")
             .arg(QCoreApplication::applicationName()),
         QStringLiteral("DIR")},
        {OperatorsFile,
         QStringLiteral("Serve secure endpoints to the operators FILE lists, one a line: the fingerprint "
                        "of the operator's key, a role (listen, operate or transmit) and a name. Read "
                        "again whenever it changes. Default: operators in the --state folder."),
         QStringLiteral("FILE")},
        {Fingerprint,
         QStringLiteral("Print the fingerprint of the relay's key, making the key if there is none, "
                        "and exit.")},
        {Ptt,
         QStringLiteral("Key the radio by METHOD: cat (its \"TX;\" and \"RX;\"), rts or dtr (that "
                        "control line of its port, as the usual interface cable), or vox (the "
                        "transmit audio keys it). Default: cat."),
         QStringLiteral("METHOD"), Transmitter::nameOf(Transmitter::Method::Cat)},
        {MaxTransmit,
         QStringLiteral("Unkey the radio once a client has held the transmitter for SECONDS (1 to %1). "
                        "Default: %2.")
             .arg(LongestTransmit)
             .arg(Transmitter::DefaultLimit.count()),
         QStringLiteral("SECONDS"), QString::number(Transmitter::DefaultLimit.count())},
        {AudioSink,
         QStringLiteral("Play the transmitting panel's audio into SINK, the radio's audio input: an "
                        "ALSA playback device as alsa:DEVICE (alsa:hw:CARD=CODEC,DEV=0 for a radio's "
                        "USB sound chip), a PipeWire/PulseAudio sink by name, or \"default\". It comes "
                        "the way the receiver's audio goes, so the relay must serve audio. Without it "
                        "no transmit audio is played."),
         QStringLiteral("SINK")},
    });
}

QString serverOptionsProblem(const QCommandLineParser &parser)
{
    for (const QString &option : {Listen, CatListen, AudioListen}) {
        const QString listenProblem = RelayServer::endpointProblem(parser.value(option));
        if ((option == Listen || parser.isSet(option)) && !listenProblem.isEmpty())
            return listenProblem;
    }
    QString allowProblem;
    if (parser.isSet(Allow) && !AccessList::parse(parser.value(Allow), &allowProblem))
        return QStringLiteral("bad --allow list \"%1\": %2 (expected addresses and networks separated "
                              "by commas, e.g. 192.168.1.0/24,::1, or any)")
            .arg(parser.value(Allow), allowProblem);
    for (const auto &[option, most] :
         {std::pair{MaxClients, MostClients}, std::pair{MaxAudioClients, MostClients},
          std::pair{MaxTransmit, LongestTransmit}}) {
        bool ok = false;
        const int value = parser.value(option).toInt(&ok);
        if (!ok || value < 1 || value > most)
            return QStringLiteral("bad value for --%1: \"%2\"").arg(option, parser.value(option));
    }
    if (!Transmitter::methodNamed(parser.value(Ptt)))
        return QStringLiteral("bad value for --%1: \"%2\" (expected cat, rts, dtr or vox)")
            .arg(Ptt, parser.value(Ptt));
    return {};
}

// The panel's port two up, on the same address, unless told otherwise.
QString audioEndpoint(const RelayServer &server, const QCommandLineParser &parser)
{
    if (parser.isSet(AudioListen))
        return parser.value(AudioListen);
    const QString panels = server.endpoint();
    const int colon = int(panels.lastIndexOf(u':'));
    const int port = panels.mid(colon + 1).toInt();
    const bool chosen = parser.value(Listen).endsWith(QStringLiteral(":0"));
    return panels.left(colon + 1) + QString::number(chosen ? 0 : port + 2);
}

void applyTransmitOptions(RelayServer &server, const QCommandLineParser &parser)
{
    server.transmitter().setMethod(*Transmitter::methodNamed(parser.value(Ptt)));
    server.transmitter().setLimit(std::chrono::seconds(parser.value(MaxTransmit).toInt()));
}

bool wantsFingerprint(const QCommandLineParser &parser)
{
    return parser.isSet(Fingerprint);
}

int printFingerprint(const QCommandLineParser &parser)
{
    QString problem;
    const auto key = Identity::loadOrCreate(keyFile(parser), QCoreApplication::applicationName(), &problem);
    if (!key) {
        printError(problem);
        return 1;
    }
    std::printf("%s\n", qPrintable(key->fingerprint()));
    return 0;
}

bool startServer(RelayServer &server, const QCommandLineParser &parser, QString *where,
                 std::unique_ptr<AudioStream> audio)
{
    if (parser.isSet(Allow))
        server.setAccess(*AccessList::parse(parser.value(Allow)));
    server.setMaxClients(parser.value(MaxClients).toInt());
    server.setMaxAudioClients(parser.value(MaxAudioClients).toInt());
    server.setTerminalGroup(parser.value(CatPtyGroup), parser.isSet(CatPtyGroup));
    if (!prepareSecurity(server, parser) || !server.listen(parser.value(Listen)))
        return false;
    QStringList served{QStringLiteral("listening on %1").arg(server.endpoint())};
    if (parser.isSet(CatListen)) {
        if (!server.listen(parser.value(CatListen), Session::Protocol::Cat))
            return false;
        served.append(QStringLiteral("CAT on %1").arg(server.endpoint(Session::Protocol::Cat)));
    }
    for (const QString &path : parser.values(CatPty)) {
        if (!server.serveTerminal(path))
            return false;
        served.append(QStringLiteral("CAT terminal %1").arg(path));
    }
    if (audio) {
        if (!server.serveAudio(audioEndpoint(server, parser), std::move(audio)))
            return false;
        served.append(QStringLiteral("audio on %1").arg(server.audioEndpoint()));
    }
    if (parser.isSet(AudioSink)) {
        server.playTransmitAudio(parser.value(AudioSink));
        served.append(QStringLiteral("transmit audio into %1").arg(parser.value(AudioSink)));
    }
    if (!server.fingerprint().isEmpty())
        served.append(QStringLiteral("key %1").arg(server.fingerprint()));
    server.takeRadio();
    if (where)
        *where = served.join(QStringLiteral(", "));
    return true;
}
