// The panel on the server link under a flood: a server on loopback greets
// it, answers its probes and then writes S-meter replies as fast as the
// socket takes them, for 10 seconds, once with the debug console off and
// once with it on, while the S-meter poll runs. Prints for each run the
// longest delay of a 10 ms timer in the panel's thread, the share of polls
// that reached the server on time and the peak resident memory; the last
// line is the worst timer delay of both runs.
//
// The server is a plain QTcpServer in a thread of its own, not the relay
// server: the relay cuts off a client that lets 64 KiB pile up unread,
// which any flood faster than the panel reads sets off at once, and behind
// a radio it is fed at 4800 baud. Its own thread keeps its work out of the
// panel's event loop.

#include "app/rmt_q9.h"
#include "bench_support.h"
#include "link/event_wait.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace {

const QString RelayAddress = QStringLiteral("127.0.0.62");
constexpr double FloodSeconds = 10.0;
constexpr qint64 PollPeriodMs = 250;
// A poll counts as on time when it follows the one before within half a
// period of its due time.
constexpr qint64 PollLatenessMs = PollPeriodMs / 2;
constexpr qint64 ServerBacklog = 64 * 1024;
constexpr double TimerDelayLimitMs = 100;
constexpr double MemoryLimitMiB = 80;

// What reached the server during a flood: when each poll arrived, in ms
// since the flood began, and how much the flood wrote.
struct FloodTally
{
    QList<qint64> polls;
    qint64 bytes = 0;
};

class FloodServer : public QObject
{
public:
    FloodServer() { connect(&m_server, &QTcpServer::newConnection, this, &FloodServer::accept); }

    bool listen() { return m_server.listen(QHostAddress(RelayAddress), 2300); }

    void startFlood()
    {
        m_tally = {};
        m_clock.start();
        m_flooding = true;
        topUp();
    }

    FloodTally stopFlood()
    {
        m_flooding = false;
        return m_tally;
    }

private:
    void accept()
    {
        m_client = m_server.nextPendingConnection();
        connect(m_client, &QTcpSocket::readyRead, this, &FloodServer::hear);
        connect(m_client, &QTcpSocket::bytesWritten, this, &FloodServer::topUp);
        m_client->write("!!flood;");
    }

    // Outside a flood everything the panel sends gets the radio's answer
    // to a probe; during one only the polls are counted.
    void hear()
    {
        const QByteArray heard = m_client->readAll();
        if (!m_flooding) {
            m_client->write("Q91;");
            return;
        }
        for (qsizetype n = heard.count("SM;"); n > 0; --n)
            m_tally.polls.append(m_clock.elapsed());
    }

    void topUp()
    {
        static const QByteArray block = QByteArrayLiteral("SM00007;").repeated(2048);
        while (m_flooding && m_client->bytesToWrite() < ServerBacklog) {
            m_client->write(block);
            m_tally.bytes += block.size();
        }
    }

    QTcpServer m_server{this};
    QTcpSocket *m_client = nullptr;
    bool m_flooding = false;
    QElapsedTimer m_clock;
    FloodTally m_tally;
};

double shareOnTime(const QList<qint64> &polls)
{
    const int due = static_cast<int>(FloodSeconds * 1000 / PollPeriodMs);
    int onTime = 0;
    qint64 previous = 0;
    for (const qint64 at : polls) {
        if (at - previous <= PollPeriodMs + PollLatenessMs)
            ++onTime;
        previous = at;
    }
    return std::min(1.0, static_cast<double>(onTime) / due);
}

struct FloodRun
{
    double worstTimerDelayMs = 0;
    double onTimeShare = 0;
    double floodMiBPerSecond = 0;
    double peakMiB = 0;
};

FloodRun flood(FloodServer &server)
{
    QElapsedTimer sinceTick;
    double worstDelayMs = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        worstDelayMs = std::max(worstDelayMs, sinceTick.nsecsElapsed() / 1e6 - ticker.interval());
        sinceTick.start();
    });

    QMetaObject::invokeMethod(&server, &FloodServer::startFlood, Qt::BlockingQueuedConnection);
    sinceTick.start();
    ticker.start();
    waitFor(FloodSeconds);
    ticker.stop();
    FloodTally tally;
    QMetaObject::invokeMethod(&server, &FloodServer::stopFlood, Qt::BlockingQueuedConnection, &tally);
    // What is still on its way drains before the next run.
    waitFor(2.0);
    return {worstDelayMs, shareOnTime(tally.polls), tally.bytes / FloodSeconds / (1024 * 1024),
            peakResidentMiB()};
}

void print(const char *console, const FloodRun &run)
{
    std::printf("console_%s_worst_timer_delay_ms %.1f\n", console, run.worstTimerDelayMs);
    std::printf("console_%s_polls_on_time %.2f\n", console, run.onTimeShare);
    std::printf("console_%s_flood_mib_per_s %.1f\n", console, run.floodMiBPerSecond);
    std::printf("console_%s_peak_rss_mib %.1f\n", console, run.peakMiB);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    BenchWorkingDir workingDir;

    QThread serverThread;
    auto *server = new FloodServer;
    server->moveToThread(&serverThread);
    QObject::connect(&serverThread, &QThread::finished, server, &QObject::deleteLater);
    serverThread.start();
    const auto stopServer = qScopeGuard([&serverThread] {
        serverThread.quit();
        serverThread.wait();
    });
    bool listening = false;
    QMetaObject::invokeMethod(server, &FloodServer::listen, Qt::BlockingQueuedConnection, &listening);
    if (!listening) {
        std::fprintf(stderr, "bench_flood: cannot listen on %s:2300\n", qPrintable(RelayAddress));
        return 1;
    }

    BenchDialogs dialogs;
    dialogs.inputAnswer = RelayAddress;
    Rmt_Q9 panel(dialogs);
    panel.show();
    panel.findChild<QAction *>(QStringLiteral("Set_Host_Addr"))->trigger();
    if (!panel.globals().RadioPresent) {
        std::fprintf(stderr, "bench_flood: the server was not taken for a radio\n");
        return 1;
    }
    panel.findChild<QPushButton *>(QStringLiteral("SM_en"))->click();

    const FloodRun quiet = flood(*server);
    panel.findChild<QAction *>(QStringLiteral("debug_on"))->trigger();
    const FloodRun echoed = flood(*server);

    print("off", quiet);
    print("on", echoed);
    const double worstDelayMs = std::max(quiet.worstTimerDelayMs, echoed.worstTimerDelayMs);
    std::printf("flood_worst_timer_delay_ms %.1f\n", worstDelayMs);
    return worstDelayMs <= TimerDelayLimitMs && echoed.peakMiB <= MemoryLimitMiB && dialogs.messages == 0 ? 0
                                                                                                          : 1;
}
