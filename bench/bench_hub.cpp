// The relay sharing one radio, on loopback, against the radio's own port:
// the simulated radio paced at 4800 baud, as a real one answers, on a
// pseudo-terminal opened directly, and the same radio behind SerialLink and
// the relay. Every wait is also given as a ratio to the port's, measured in
// the same run:
//   - a lone query, a set and a query of the same code in one write, and
//     the same in two writes from a client that leaves Nagle's rule on
//     (and with a short set, which the line does not hide a late
//     acknowledgement behind), each answer checked for the value just set;
//   - a query sent while another client's set, which the radio rejects, is
//     on its way;
//   - the time from a report of the radio to its arrival at each of four
//     clients that hear reports;
//   - four clients at once, each one's median and worst wait and the
//     answers that were not its own;
//   - the secure link beside the plain one, through q9sim's relay in a
//     process of its own (its radio unpaced, so that the link is all there
//     is to measure): a query's round trip, the relay's share of a core
//     while it answers queries one after another and its CPU time per
//     query, and the time from connecting to the first answer (the
//     handshake's time on the secure link).

#include "bench_support.h"
#include "framer.h"
#include "identity.h"
#include "link/event_wait.h"
#include "pseudo_terminal.h"
#include "relay_server.h"
#include "serial_link.h"
#include "sim_radio.h"
#include "simulated_line.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <memory>

namespace {

constexpr int Runs = 100;
constexpr int Reports = 200;
constexpr double MixedSeconds = 20;
constexpr double Patience = 5;
// Enough for the relay's CPU time, counted in ticks of 10 ms, to be read
// to a few percent.
constexpr int QueriesTimed = 5000;

// What a client sends at once, as writes of their own, and the replies it
// expects, each known by how it begins.
struct Round
{
    QByteArrayList writes;
    QByteArrayList expected;
    bool timed = true;
};

// Hands bytes to the kernel now, as a write of their own.
void writeNow(QIODevice &device, const QByteArray &bytes)
{
    device.write(bytes);
    if (auto *socket = qobject_cast<QAbstractSocket *>(&device))
        socket->flush();
    else if (auto *port = qobject_cast<QSerialPort *>(&device))
        port->flush();
}

// A client of the relay, or the port itself. It times each round from its
// first write to its last reply, rounds being answered in the order they
// were sent, and counts the replies that are not what was expected.
class Asker : public QObject
{
public:
    explicit Asker(QIODevice &device)
        : m_device(device)
    {
        connect(&device, &QIODevice::readyRead, this, &Asker::hear);
    }

    void send(const Round &round)
    {
        m_waiting.append({round, QElapsedTimer(), true});
        m_waiting.last().clock.start();
        for (const QByteArray &bytes : round.writes)
            writeNow(m_device, bytes);
    }

    // Waits until every round sent is answered.
    bool settle()
    {
        return waitUntil([this] { return m_waiting.isEmpty(); }, Patience);
    }

    QList<double> waits;
    int rightRounds = 0;
    int wrongReplies = 0;

private:
    struct Waiting : Round
    {
        QElapsedTimer clock;
        bool right = true;
    };

    void hear()
    {
        for (const QByteArray &reply : m_replies.feed(m_device.readAll())) {
            const bool right
                = !m_waiting.isEmpty() && reply.startsWith(m_waiting.first().expected.takeFirst());
            wrongReplies += !right;
            if (m_waiting.isEmpty())
                continue;
            Waiting &round = m_waiting.first();
            round.right = round.right && right;
            if (round.expected.isEmpty()) {
                if (round.timed) {
                    waits.append(round.clock.nsecsElapsed() / 1e6);
                    rightRounds += round.right;
                }
                m_waiting.removeFirst();
            }
        }
    }

    QIODevice &m_device;
    Framer m_replies{1024};
    QList<Waiting> m_waiting;
};

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

double worst(const QList<double> &values)
{
    return values.isEmpty() ? 0 : *std::max_element(values.begin(), values.end());
}

Round loneQuery(int)
{
    return {{"FA;"}, {"FA"}};
}

// Sets that differ from the one before: the radio reports each.
QByteArray frequencySet(int run)
{
    return "FA000070000" + QByteArray::number(run % 10) + "0;";
}

QByteArray attenuatorSet(int run)
{
    return "RA0" + QByteArray::number(run % 2) + ';';
}

// A set and a query of its code, in one write or in two; the answer must be
// the value just set.
Round setAndQuery(const QByteArray &set, bool apart)
{
    const QByteArray query = set.first(2) + ';';
    return {apart ? QByteArrayList{set, query} : QByteArrayList{set + query}, {set}};
}

Round setAndQueryInOneWrite(int run)
{
    return setAndQuery(frequencySet(run), false);
}

struct Case
{
    const char *name;
    Round (*round)(int run);
};

// The second write waits for the acknowledgement of the first, unless the
// relay gives it at once. The line hides a late one behind the radio's
// report of a long set; a short set shows it.
constexpr Case Cases[] = {
    {"query_round_trip", loneQuery},
    {"set_query_one_write", setAndQueryInOneWrite},
    {"set_query_two_writes", [](int run) { return setAndQuery(frequencySet(run), true); }},
    {"short_set_query_two_writes", [](int run) { return setAndQuery(attenuatorSet(run), true); }},
};

// An answer the relay gives at once. The kernel takes a connection answered
// that promptly for an interactive one, and holds back the acknowledgement
// of what comes next unless the relay asks for it at once.
const Round PromptAnswer{{"AI;"}, {"AI"}, false};

struct Outcome
{
    double median;
    int right;
};

// Rounds one after another, each right after a prompt answer.
Outcome measure(QIODevice &device, const Case &c, int runs = Runs)
{
    Asker asker(device);
    for (int run = 0; run < runs; ++run) {
        asker.send(PromptAnswer);
        asker.settle();
        asker.send(c.round(run));
        if (!asker.settle())
            break;
    }
    return {median(asker.waits), asker.rightRounds};
}

// The radio paced on a pseudo-terminal, and what reaches it.
struct PacedRadio
{
    PacedRadio()
    {
        radio.setPaced(true);
        terminal.open();
        QObject::connect(&terminal, &PseudoTerminal::received, &radio, &SimRadio::receive);
        QObject::connect(&terminal, &PseudoTerminal::received,
                         [this](const QByteArray &bytes) { heard += bytes; });
        QObject::connect(&radio, &SimRadio::output, &terminal, &PseudoTerminal::write);
    }

    PseudoTerminal terminal;
    SimRadio radio;
    QByteArray heard;
};

// A CAT program that leaves Nagle's rule on, as Hamlib does.
std::unique_ptr<QTcpSocket> connectTo(const RelayServer &server)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost,
                          server.endpoint(Session::Protocol::Cat).section(u':', -1).toUShort());
    socket->waitForConnected(int(Patience * 1000));
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 0);
    return socket;
}

void printPair(const char *name, double onPort, const Outcome &throughRelay)
{
    std::printf("%s_port_ms %.2f\n", name, onPort);
    std::printf("%s_relay_ms %.2f\n", name, throughRelay.median);
    std::printf("%s_relay_adds_ms %.2f\n", name, throughRelay.median - onPort);
    std::printf("%s_ratio %.3f\n", name, throughRelay.median / onPort);
    std::printf("%s_relay_right %d/%d\n", name, throughRelay.right, Runs);
}

// Client A's set, which the radio rejects, has reached the radio when
// client B queries: B waits for the relay's fence behind it.
void queryBehindRejectedSet(const RelayServer &server, PacedRadio &paced, double loneOnPort)
{
    const auto a = connectTo(server);
    const auto b = connectTo(server);
    Asker setter(*a);
    Asker asker(*b);
    for (int run = 0; run < Runs; ++run) {
        paced.heard.clear();
        setter.send({{"SW99;"}, {"?;"}});
        waitUntil([&] { return paced.heard.contains("SW99;"); }, Patience);
        asker.send(loneQuery(run));
        if (!asker.settle() || !setter.settle())
            break;
    }
    std::printf("query_behind_rejected_set_ms %.2f\n", median(asker.waits));
    std::printf("query_behind_rejected_set_worst_ms %.2f\n", worst(asker.waits));
    std::printf("query_behind_rejected_set_ratio %.3f\n", median(asker.waits) / loneOnPort);
    std::printf("query_behind_rejected_set_worst_ratio %.3f\n", worst(asker.waits) / loneOnPort);
    std::printf("query_behind_rejected_set_answered %d/%d\n", asker.rightRounds, Runs);
    std::printf("query_behind_rejected_set_setter_rejected %d/%d\n", setter.rightRounds, Runs);
}

struct MixedClient
{
    const char *name;
    int periodMs;
    Round (*round)(int run);
};

Round meterPoll(int)
{
    return {{"SM;"}, {"SM"}};
}

Round statusPoll(int)
{
    return {{"IF;"}, {"IF"}};
}

Round rejectedSetAndQuery(int)
{
    return {{"SW99;", "FB;"}, {"?;", "FB"}};
}

// Together they keep the line busy most of the time.
constexpr MixedClient MixedClients[] = {
    {"mixed_sm_poll_100ms", 100, meterPoll},
    {"mixed_if_poll_1000ms", 1000, statusPoll},
    {"mixed_fa_set_query_250ms", 250, setAndQueryInOneWrite},
    {"mixed_rejected_set_fb_query_500ms", 500, rejectedSetAndQuery},
};

// A client sending its rounds at a steady rate, answered or not.
struct Poller
{
    Poller(const RelayServer &server, const MixedClient &client)
        : socket(connectTo(server))
        , asker(*socket)
    {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this, &client] { asker.send(client.round(sent++)); });
        timer.start(client.periodMs);
    }

    std::unique_ptr<QTcpSocket> socket;
    Asker asker;
    QTimer timer;
    int sent = 0;
};

void mixedClients(const RelayServer &server, double loneOnPort)
{
    std::vector<std::unique_ptr<Poller>> pollers;
    for (const MixedClient &client : MixedClients)
        pollers.push_back(std::make_unique<Poller>(server, client));
    waitFor(MixedSeconds);
    for (const auto &poller : pollers)
        poller->timer.stop();
    for (const auto &poller : pollers)
        poller->asker.settle();
    for (size_t i = 0; i < pollers.size(); ++i) {
        const char *name = MixedClients[i].name;
        const Asker &asker = pollers[i]->asker;
        std::printf("%s_median_ms %.1f\n", name, median(asker.waits));
        std::printf("%s_worst_ms %.1f\n", name, worst(asker.waits));
        std::printf("%s_worst_ratio %.2f\n", name, worst(asker.waits) / loneOnPort);
        std::printf("%s_answered %lld/%d\n", name, static_cast<long long>(asker.waits.size()),
                    pollers[i]->sent);
        std::printf("%s_wrong %d\n", name, asker.wrongReplies);
    }
}

// Each section's clients have gone before the next one's come, so that
// they stay within the relay's limit.
void waitForNoClients(const RelayServer &server)
{
    waitUntil([&] { return server.clientCount() == 0; }, Patience);
}

// The radio asked on its own port, and then through a relay on that port.
void portAndRelay()
{
    PacedRadio paced;
    QList<double> onPort;
    {
        QSerialPort port(paced.terminal.slavePath());
        port.open(QIODevice::ReadWrite);
        for (const Case &c : Cases)
            onPort.append(measure(port, c).median);
    }
    SerialLink link(paced.terminal.slavePath());
    link.start();
    RelayServer server(link);
    server.listen(QStringLiteral("127.0.0.1:0"), Session::Protocol::Cat);
    server.takeRadio();
    {
        const auto client = connectTo(server);
        measure(*client, Cases[0], 1); // waits for the relay to set the radio's level
        for (size_t i = 0; i < std::size(Cases); ++i)
            printPair(Cases[i].name, onPort.at(i), measure(*client, Cases[i]));
    }
    waitForNoClients(server);
    queryBehindRejectedSet(server, paced, onPort.first());
    waitForNoClients(server);
    mixedClients(server, onPort.first());
}

// Four clients at level 2 and reports the radio sends unasked.
void reportLatencies()
{
    SimRadio radio;
    SimulatedLine line(radio);
    RelayServer server(line);
    server.listen(QStringLiteral("127.0.0.1:0"), Session::Protocol::Cat);
    server.takeRadio();
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    std::vector<std::unique_ptr<Asker>> askers;
    for (int i = 0; i < 4; ++i) {
        clients.push_back(connectTo(server));
        askers.push_back(std::make_unique<Asker>(*clients.back()));
        askers.back()->send({{"AI2;AI;"}, {"AI2;"}, false});
        askers.back()->settle();
    }
    const QByteArray report = "FA00014060000;";
    for (int i = 0; i < Reports; ++i) {
        for (const auto &asker : askers)
            asker->send({{}, {report}});
        emit line.received(report);
        for (const auto &asker : askers)
            asker->settle();
    }
    for (size_t i = 0; i < askers.size(); ++i) {
        std::printf("report_to_client_%zu_median_ms %.3f\n", i + 1, median(askers[i]->waits));
        std::printf("report_to_client_%zu_worst_ms %.3f\n", i + 1, worst(askers[i]->waits));
    }
}

// The relay of a q9sim of its own, its CAT port plain or secure; one key
// of the bench's, an operator's.
class RelayProcess
{
public:
    RelayProcess(bool secure, const Identity &key, const QString &state)
    {
        QFile operators(state + QStringLiteral("/operators"));
        operators.open(QIODevice::WriteOnly);
        operators.write((key.fingerprint() + QStringLiteral(" transmit bench\n")).toUtf8());
        operators.close();
        const QString cat = (secure ? QStringLiteral("tls:") : QString()) + QStringLiteral("127.0.0.1:0");
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/q9sim"),
                        {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                         QStringLiteral("--cat-listen"), cat, QStringLiteral("--state"), state,
                         QStringLiteral("--max-clients"), QStringLiteral("64")});
        static const QRegularExpression catPort(QStringLiteral("CAT on \\S+:(\\d+)"));
        QByteArray said;
        QRegularExpressionMatch match;
        waitUntil(
            [&] {
                said += m_process.readAllStandardOutput();
                match = catPort.match(QString::fromLocal8Bit(said));
                return match.hasMatch() || m_process.state() == QProcess::NotRunning;
            },
            Patience);
        port = match.captured(1).toUShort();
    }
    ~RelayProcess()
    {
        m_process.terminate();
        m_process.waitForFinished();
    }
    // Its CPU time so far, user and system.
    double cpuSeconds() const
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(m_process.processId()));
        stat.open(QIODevice::ReadOnly);
        const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
        return (fields.value(12).toDouble() + fields.value(13).toDouble()) / double(::sysconf(_SC_CLK_TCK));
    }

    quint16 port = 0;

private:
    QProcess m_process;
};

// Connected, and answered once: over TLS, handshake and key check done.
std::unique_ptr<QSslSocket> linkTo(quint16 port, const Identity *key)
{
    auto socket = std::make_unique<QSslSocket>();
    if (key) {
        socket->setSslConfiguration(key->tlsConfiguration());
        socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        socket->waitForEncrypted(int(Patience * 1000));
    } else {
        socket->connectToHost(QHostAddress::LocalHost, port);
        socket->waitForConnected(int(Patience * 1000));
    }
    Asker asker(*socket);
    asker.send({{"AI;"}, {"AI"}});
    asker.settle();
    return socket;
}

struct LinkFigures
{
    double connectMs;
    double worstConnectMs;
    double queryMs;
    double relayCoreShare;
    double relayCpuPerQueryUs;
};

LinkFigures measureLink(bool secure, const Identity &key, const QString &state)
{
    RelayProcess relay(secure, key, state);
    QList<double> connects;
    for (int run = 0; run < Runs / 2; ++run) {
        QElapsedTimer clock;
        clock.start();
        const auto socket = linkTo(relay.port, secure ? &key : nullptr);
        connects.append(clock.nsecsElapsed() / 1e6);
        socket->disconnectFromHost();
    }
    const auto socket = linkTo(relay.port, secure ? &key : nullptr);
    const double cpuBefore = relay.cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    Asker asker(*socket);
    for (int run = 0; run < QueriesTimed; ++run) {
        asker.send(loneQuery(run));
        asker.settle();
    }
    const double cpu = relay.cpuSeconds() - cpuBefore;
    return {median(connects), worst(connects), median(asker.waits), cpu / secondsSince(clock),
            cpu * 1e6 / asker.waits.size()};
}

void secureBesidePlain()
{
    QTemporaryDir state;
    const Identity key = *Identity::loadOrCreate(state.filePath(QStringLiteral("bench.pem")),
                                                 QStringLiteral("bench"), nullptr);
    const LinkFigures plain = measureLink(false, key, state.path());
    const LinkFigures secure = measureLink(true, key, state.path());
    std::printf("plain_connect_to_answer_ms %.2f\n", plain.connectMs);
    std::printf("secure_handshake_to_answer_ms %.2f\n", secure.connectMs);
    std::printf("secure_handshake_to_answer_worst_ms %.2f\n", secure.worstConnectMs);
    std::printf("plain_query_round_trip_ms %.3f\n", plain.queryMs);
    std::printf("secure_query_round_trip_ms %.3f\n", secure.queryMs);
    std::printf("secure_query_round_trip_ratio %.3f\n", secure.queryMs / plain.queryMs);
    std::printf("plain_relay_core_share %.3f\n", plain.relayCoreShare);
    std::printf("secure_relay_core_share %.3f\n", secure.relayCoreShare);
    std::printf("secure_relay_core_share_ratio %.3f\n", secure.relayCoreShare / plain.relayCoreShare);
    std::printf("plain_relay_cpu_per_query_us %.1f\n", plain.relayCpuPerQueryUs);
    std::printf("secure_relay_cpu_per_query_us %.1f\n", secure.relayCpuPerQueryUs);
    std::printf("secure_relay_cpu_per_query_ratio %.3f\n",
                secure.relayCpuPerQueryUs / plain.relayCpuPerQueryUs);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    portAndRelay();
    reportLatencies();
    secureBesidePlain();
    return 0;
}
