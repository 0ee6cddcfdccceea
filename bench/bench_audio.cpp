// The receiver's audio from a sound server's source through q9relay to the
// panel's player and into a sink, first on loopback:
//   - the time from a click played into the source to its arrival at the
//     sink (goal: a median of at most 60 ms), at the start and after the
//     run (goal: not grown), ten minutes unless told (bench_audio MINUTES);
//   - the relay's and the panel's share of a core while streaming (goal:
//     each at most 0.03).
// Then, run as root, across an emulated internet path between two network
// namespaces (clean; 80 +- 20 ms with 1% lost; 300 ms each way; a 3 s
// outage at 80 ms): the median and worst click latency, the seconds a
// minute the sink is silent, the time the audio takes to come back after
// the outage, and each end's share of a core; each beside bare GStreamer
// pipelines of the same chain in the same run: RTP on UDP with a 60 ms
// jitter buffer, the floor of this design, and framed on TCP, the floor of
// the design before it. A quiet tone under the clicks shows the gaps.
// Runs its own PulseAudio server with null sinks, so it needs no desktop.

#include "audio_bench.h"
#include "bench_support.h"
#include "network_path.h"

#include <optional>

namespace {

using namespace AudioBench;

constexpr double CpuSeconds = 30;
constexpr double LatencySeconds = 20;
constexpr double PathSeconds = 60;
constexpr double StartSeconds = 3;

// The relay on a simulated radio's port, on `address`, capturing the
// source's monitor, started by `command` (a namespace's, or none); returns
// its panel port.
quint16 startRelay(QProcess &relay, const QString &radioLink, const QString &address,
                   const QStringList &command = {}, const QString &allowed = {})
{
    QStringList arguments{QStringLiteral("--device"),       radioLink,
                          QStringLiteral("--listen"),       address + QStringLiteral(":0"),
                          QStringLiteral("--audio-source"), QStringLiteral("q9source.monitor")};
    if (!allowed.isEmpty())
        arguments << QStringLiteral("--allow") << allowed;
    const QStringList line = command
        + QStringList{QCoreApplication::applicationDirPath() + QStringLiteral("/q9relay")} + arguments;
    relay.start(line.first(), line.mid(1));
    static const QRegularExpression listening(QStringLiteral("listening on \\S+:(\\d+)"));
    const QRegularExpressionMatch match = awaitOutput(relay, listening);
    return match.hasMatch() ? match.captured(1).toUShort() : 0;
}

struct Path
{
    const char *name;
    NetworkPath::Conditions conditions;
    int outageMs = 0;
};

// A bare GStreamer pipeline across the same path: a sender at the relay's
// end, a receiver at the panel's, playing into a sink of its own.
struct Floor
{
    const char *name;
    QString sender;
    QString receiver;
    QString sink;
};

// The chain as the relay encodes it, then what carries it.
QList<Floor> floorsAcross(const QString &far, const QString &near)
{
    const QString capture = QStringLiteral(
        "pulsesrc device=q9source.monitor latency-time=5000 ! audioconvert ! audioresample "
        "! audio/x-raw,rate=48000,channels=1 ! opusenc bitrate=24000 frame-size=10 bitrate-type=cbr "
        "inband-fec=true packet-loss-percentage=1 ! rtpopuspay pt=96 ! ");
    const QString play
        = QStringLiteral("! rtpopusdepay ! opusdec plc=true ! audioconvert ! audioresample ! pulsesink "
                         "device=%1");
    const QString caps
        = QStringLiteral("application/x-rtp,media=audio,clock-rate=48000,encoding-name=OPUS,payload=96");
    return {
        // RTP on UDP with GStreamer's own jitter buffer at its usual 60 ms,
        // and an output as small as the panel's.
        {"bare RTP/UDP", capture + QStringLiteral("udpsink host=%1 port=2398").arg(near),
         QStringLiteral("udpsrc address=%1 port=2398 caps=%2 ! rtpjitterbuffer latency=60 ").arg(near, caps)
             + play.arg(QStringLiteral("q9udp buffer-time=15000 latency-time=5000")),
         QStringLiteral("q9udp")},
        // The panel's player as it was: the stream's own connection (Nagle's
        // rule left on, as tcpserversink does), stamped as it comes, a 60 ms
        // jitter buffer and an output fed as packets arrive.
        {"bare TCP",
         capture + QStringLiteral("rtpstreampay ! tcpserversink host=%1 port=2399 sync=false").arg(far),
         QStringLiteral(
             "tcpclientsrc host=%1 port=2399 do-timestamp=true ! application/x-rtp-stream,media=audio,"
             "clock-rate=48000,encoding-name=OPUS,payload=96 ! rtpstreamdepay ! rtpjitterbuffer "
             "latency=60 drop-on-latency=true do-lost=true ")
                 .arg(far)
             + play.arg(QStringLiteral("q9tcp sync=false buffer-time=40000 latency-time=10000")),
         QStringLiteral("q9tcp")},
    };
}

// Both ends of what is measured: a program at each, or the relay and this
// process.
struct Ends
{
    qint64 far;
    qint64 near;
    double farBefore = 0;
    double nearBefore = 0;

    static double cpu(qint64 pid) { return pid ? cpuSecondsOf(pid) : processCpuSeconds(); }
    void start()
    {
        farBefore = cpu(far);
        nearBefore = cpu(near);
    }
    double farShare(double seconds) const { return (cpu(far) - farBefore) / seconds; }
    double nearShare(double seconds) const { return (cpu(near) - nearBefore) / seconds; }
};

void report(const char *who, const Meter &meter, int sink, const Path &path, double outageEnd,
            const Ends &ends)
{
    const QList<double> delays = meter.delays(sink);
    const OnsetFinder &heard = meter.sinks[sink];
    std::printf("  %-14s median %4.0f ms, worst %4.0f ms, %5.2f s silent a minute", who, median(delays),
                worst(delays),
                std::max(0.0, heard.silentSeconds() - path.outageMs / 1000.0) * 60 / PathSeconds);
    // Back from the silence the outage made; a later dropout counts as
    // silence, not as a slower return.
    if (path.outageMs) {
        if (const auto back = heard.backAfter(outageEnd - path.outageMs / 1000.0))
            std::printf(", back %.2f s after the outage", std::max(0.0, *back - outageEnd));
        else
            std::printf(", not back after the outage");
    }
    std::printf("; a core: relay end %.3f, panel end %.3f\n", ends.farShare(PathSeconds),
                ends.nearShare(PathSeconds));
}

QStringList launchLine(const NetworkPath &network, NetworkPath::Side side, const QString &description)
{
    return network.inNamespace(side, QStringLiteral("gst-launch-1.0"),
                               QStringList{QStringLiteral("-q")} + description.split(u' '));
}

// The relay and the floors' senders at the far end, our player and the
// floors' receivers at the near end; the clicks and tone, the meter and the
// sound server in the root namespace, which the path does not cross. The
// panel's share of a core is this process's, the meter's work included.
void measurePath(const Path &path, const QString &radioLink)
{
    NetworkPath network;
    QString problem;
    if (!network.open(&problem, path.conditions)) {
        std::printf("%s: no emulated path: %s\n", path.name, qPrintable(problem));
        return;
    }
    const QString far = network.address(NetworkPath::Far);
    const QString near = network.address(NetworkPath::Near);
    QProcess relay;
    const quint16 port = startRelay(relay, radioLink, far,
                                    network.inNamespace(NetworkPath::Far, QStringLiteral("env"), {}), near);
    const QList<Floor> floors = floorsAcross(far, near);
    std::vector<std::unique_ptr<QProcess>> programs;
    QStringList sinks{QStringLiteral("q9test")};
    for (const Floor &floor : floors) {
        for (const auto &[side, description] :
             {std::pair(NetworkPath::Far, floor.sender), std::pair(NetworkPath::Near, floor.receiver)}) {
            const QStringList line = launchLine(network, side, description);
            programs.push_back(std::make_unique<QProcess>());
            programs.back()->start(line.first(), line.mid(1));
            QTest::qWait(500);
        }
        sinks << floor.sink;
    }
    network.enter(NetworkPath::Near);
    {
        RemoteAudio player;
        QTcpSocket link;
        const bool playing = port && linkAndPlay(link, player, far, port);
        // Under way at every end before anything is measured.
        runFor(StartSeconds);
        Meter meter;
        if (!playing || !meter.start(sinks)) {
            std::printf("%s: the audio did not start\n", path.name);
        } else {
            std::vector<Ends> ends{{relay.processId(), 0}};
            for (std::size_t i = 0; i < programs.size(); i += 2)
                ends.push_back({programs[i]->processId(), programs[i + 1]->processId()});
            for (Ends &end : ends)
                end.start();
            QElapsedTimer span;
            span.start();
            double outageEnd = 0;
            if (path.outageMs) {
                runFor(PathSeconds / 2);
                network.cutFor(std::chrono::milliseconds(path.outageMs));
                // The meter's clock started about when the span did.
                outageEnd = double(span.elapsed() + path.outageMs) / 1000;
                runFor(PathSeconds / 2);
            } else {
                runFor(PathSeconds);
            }
            std::printf("%s:\n", path.name);
            report("q9relay/panel", meter, 0, path, outageEnd, ends[0]);
            for (int i = 0; i < floors.size(); ++i)
                report(floors[i].name, meter, i + 1, path, outageEnd, ends[i + 1]);
        }
    }
    network.leave();
    for (const auto &program : programs)
        stop(*program);
    stop(relay);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // Each figure as it comes, on a long run.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const double minutes = argc > 1 ? QString::fromLocal8Bit(argv[1]).toDouble() : 10;
    BenchWorkingDir dir;
    SoundServer sound({QStringLiteral("q9source"), QStringLiteral("q9udp"), QStringLiteral("q9tcp")});
    if (!sound.isRunning()) {
        std::printf("bench_audio: no sound server\n");
        return 1;
    }
    QProcess radio;
    QProcess relay;
    const QString radioLink = dir.path() + QStringLiteral("/radio");
    const quint16 port = startSimulatedRadio(radio, radioLink)
        ? startRelay(relay, radioLink, QStringLiteral("127.0.0.1"))
        : 0;
    RemoteAudio player;
    QTcpSocket link;
    if (!port || !linkAndPlay(link, player, QStringLiteral("127.0.0.1"), port)) {
        std::printf("bench_audio: the relay did not serve audio\n");
        return 1;
    }
    QObject::connect(&player, &RemoteAudio::failed,
                     [](const QString &why) { std::printf("player: %s\n", qPrintable(why)); });

    // Streaming, nothing else in this process: the panel's share.
    runFor(2);
    const double relayBefore = cpuSecondsOf(relay.processId());
    const double panelBefore = processCpuSeconds();
    runFor(CpuSeconds);
    std::printf("relay's share of a core while streaming: %.4f (goal: at most 0.03)\n",
                (cpuSecondsOf(relay.processId()) - relayBefore) / CpuSeconds);
    std::printf("panel player's share of a core while streaming: %.4f (goal: at most 0.03)\n",
                (processCpuSeconds() - panelBefore) / CpuSeconds);

    // Clicks once a second into the source over a quiet tone, timed at both
    // ends.
    MediaPipeline clicks;
    Meter meter;
    if (!meter.start({QStringLiteral("q9test")})
        || !clicks.start(
            QStringLiteral("audiotestsrc wave=ticks freq=1000 volume=0.5 is-live=true ! audiomixer name=mix "
                           "! pulsesink device=q9source "
                           "audiotestsrc freq=600 volume=0.02 is-live=true ! mix."))) {
        std::printf("bench_audio: cannot click: %s\n", qPrintable(clicks.errorString()));
        return 1;
    }
    runFor(LatencySeconds);
    const QList<double> first = meter.delays();
    std::printf(
        "click to sink: median %.0f ms, worst %.0f ms over %lld clicks (goal: a median of at most 60 ms)\n",
        median(first), worst(first), qlonglong(first.size()));
    runFor(std::max(0.0, minutes * 60 - CpuSeconds - 2 * LatencySeconds));
    const qsizetype before = meter.delays().size();
    runFor(LatencySeconds);
    const QList<double> last = meter.delays().mid(before);
    std::printf("after %g minutes: median %.0f ms over %lld clicks (goal: not grown)\n", minutes,
                median(last), qlonglong(last.size()));
    player.stop();
    stop(relay);

    const Path paths[] = {{"clean path", {}},
                          {"80 +- 20 ms each way, 1% lost", {80, 20, 1.0}},
                          {"300 ms each way", {300, 0, 0}},
                          {"3 s outage at 80 ms", {80, 0, 0}, 3000}};
    for (const Path &path : paths)
        measurePath(path, radioLink);
    radio.terminate();
    radio.waitForFinished();
    return 0;
}
