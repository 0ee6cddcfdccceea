// The relay sharing one radio, on loopback, with the simulated radio paced
// at 4800 baud as a real one answers:
//   - a query's round trip through the relay and on the radio's own port,
//     as a ratio, and what the relay adds;
//   - the time from a report of the radio to its arrival at each of four
//     clients that hear reports;
//   - a panel polling ten times a second beside a CAT program querying once
//     a second, each one's worst wait for an answer.

#include "bench_support.h"
#include "link/event_wait.h"
#include "pseudo_terminal.h"
#include "relay_server.h"
#include "serial_link.h"
#include "sim_radio.h"
#include "simulated_line.h"

#include <QSerialPort>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <numeric>

namespace {

constexpr int RoundTrips = 100;
constexpr int Reports = 200;
constexpr double MixedSeconds = 20;

// A client of the relay, or the port itself, timing each query to its answer.
struct Asker
{
    explicit Asker(QIODevice &device)
        : device(device)
    {
        QObject::connect(&device, &QIODevice::readyRead, [this] { heard += this->device.readAll(); });
    }

    // Milliseconds from the query to its answer, or a negative number when
    // none came.
    double ask(const QByteArray &query)
    {
        heard.clear();
        QElapsedTimer clock;
        clock.start();
        device.write(query);
        const bool answered = waitUntil([this] { return heard.endsWith(';'); }, 5);
        return answered ? clock.nsecsElapsed() / 1e6 : -1;
    }

    QIODevice &device;
    QByteArray heard;
};

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

double medianRoundTrip(Asker &asker)
{
    QList<double> times;
    for (int i = 0; i < RoundTrips; ++i)
        times.append(asker.ask("FA;"));
    return median(times);
}

std::unique_ptr<QTcpSocket> connectTo(const RelayServer &server, Session::Protocol protocol)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, server.endpoint(protocol).section(u':', -1).toUShort());
    socket->waitForConnected(5000);
    return socket;
}

// The radio on a pseudo-terminal, asked on the port and then through a
// relay on that port.
void roundTrips()
{
    PseudoTerminal terminal;
    SimRadio radio;
    radio.setPaced(true);
    terminal.open();
    QObject::connect(&terminal, &PseudoTerminal::received, &radio, &SimRadio::receive);
    QObject::connect(&radio, &SimRadio::output, &terminal, &PseudoTerminal::write);

    double onPort = 0;
    {
        QSerialPort port(terminal.slavePath());
        port.open(QIODevice::ReadWrite);
        Asker asker(port);
        onPort = medianRoundTrip(asker);
    }
    SerialLink link(terminal.slavePath());
    link.start();
    RelayServer server(link);
    server.listen(QStringLiteral("127.0.0.1:0"), Session::Protocol::Cat);
    server.takeRadio();
    const auto client = connectTo(server, Session::Protocol::Cat);
    Asker asker(*client);
    const double throughRelay = medianRoundTrip(asker);
    std::printf("query_round_trip_port_ms %.2f\n", onPort);
    std::printf("query_round_trip_relay_ms %.2f\n", throughRelay);
    std::printf("query_round_trip_relay_adds_ms %.2f\n", throughRelay - onPort);
    std::printf("query_round_trip_ratio %.3f\n", throughRelay / onPort);
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
        clients.push_back(connectTo(server, Session::Protocol::Cat));
        askers.push_back(std::make_unique<Asker>(*clients.back()));
        askers.back()->ask("AI2;AI;");
    }
    std::vector<QList<double>> latencies(clients.size());
    for (int report = 0; report < Reports; ++report) {
        QElapsedTimer clock;
        clock.start();
        std::vector<double> arrived(clients.size(), -1);
        for (size_t i = 0; i < askers.size(); ++i)
            askers[i]->heard.clear();
        emit line.received("FA00014060000;");
        waitUntil(
            [&] {
                for (size_t i = 0; i < askers.size(); ++i) {
                    if (arrived[i] < 0 && askers[i]->heard.endsWith(';'))
                        arrived[i] = clock.nsecsElapsed() / 1e6;
                }
                return std::none_of(arrived.begin(), arrived.end(), [](double at) { return at < 0; });
            },
            5);
        for (size_t i = 0; i < arrived.size(); ++i)
            latencies[i].append(arrived[i]);
    }
    for (size_t i = 0; i < latencies.size(); ++i)
        std::printf("report_to_client_%zu_ms median %.3f worst %.3f\n", i + 1, median(latencies[i]),
                    *std::max_element(latencies[i].begin(), latencies[i].end()));
}

// A query at a steady rate, each wait for its answer kept.
struct Poller
{
    Poller(QTcpSocket &socket, const QByteArray &query, int periodMs)
        : socket(socket)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] {
            for (qsizetype n = this->socket.readAll().count(';'); n > 0 && !sent.isEmpty(); --n)
                waits.append(sent.takeFirst().nsecsElapsed() / 1e6);
        });
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this, query] {
            sent.append(QElapsedTimer());
            sent.last().start();
            this->socket.write(query);
        });
        timer.start(periodMs);
    }

    QTcpSocket &socket;
    QTimer timer;
    QList<QElapsedTimer> sent;
    QList<double> waits;
};

void mixedClients()
{
    SimRadio radio;
    radio.setPaced(true);
    SimulatedLine line(radio);
    RelayServer server(line);
    server.listen(QStringLiteral("127.0.0.1:0"));
    server.listen(QStringLiteral("127.0.0.1:0"), Session::Protocol::Cat);
    server.takeRadio();
    const auto panel = connectTo(server, Session::Protocol::Panel);
    const auto program = connectTo(server, Session::Protocol::Cat);
    panel->waitForReadyRead(5000);
    panel->readAll();
    Poller polls(*panel, "SM;", 100);
    Poller queries(*program, "IF;", 1000);
    waitFor(MixedSeconds);
    for (const auto &[name, poller] : {std::pair{"panel_polling_10_per_s", &polls},
                                       std::pair{"cat_querying_1_per_s", &queries}})
        std::printf("%s_worst_wait_ms %.1f median %.1f answered %lld\n", name,
                    *std::max_element(poller->waits.begin(), poller->waits.end()), median(poller->waits),
                    static_cast<long long>(poller->waits.size()));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    roundTrips();
    reportLatencies();
    mixedClients();
    return 0;
}
