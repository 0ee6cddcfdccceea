// The operator's side of a remote station: a panel's push-to-talk and
// microphone through q9sim's relay into its radio and its sink for the
// radio's audio input, first on loopback, then, run as root, across an
// emulated 80 +- 20 ms path between two network namespaces:
//   - key to keyed: the push-to-talk pressed until the radio's status
//     record ("IF;") says it transmits (goal: a median of at most 100 ms on
//     a LAN);
//   - microphone to sink: clicks played into the panel's microphone while
//     it transmits, timed as they reach the relay's sink (goal: a median of
//     at most 150 ms on loopback);
//   - release to unkeyed (goal: at most 100 ms), and the lease's lapse to
//     unkeyed: from when the renewals stop (up to a renewal's interval
//     after the last) until the radio says it receives (the lease is
//     500 ms);
//   - each end's share of a core while transmitting.
// Medians and worst over 50 tries each (bench_transmit TRIES for fewer).
// The radio's word comes back across the path: a change is taken to have
// happened halfway through the query that first shows it. The microphone's
// clicks are also timed through a bare GStreamer pipeline of the same chain
// (capture, Opus, RTP on UDP, the relay's jitter buffer and output) across
// the same path: the floor of this design. Runs its own PulseAudio server
// with null sinks, so it needs no desktop.

#include "audio_bench.h"
#include "audio_stream_format.h"
#include "bench_support.h"
#include "link/push_to_talk.h"
#include "network_path.h"
#include "radio_watch.h"
#include "transmit_audio.h"

namespace {

using namespace AudioBench;

// Unless told otherwise (bench_transmit TRIES).
int Tries = 50;
constexpr double HoldSeconds = 0.3;
const QString RadioInput = QStringLiteral("q9radioinput");
const QString FloorSink = QStringLiteral("q9floor");
constexpr int FloorPort = 2396;

// The bare chain: a sender at the panel's end, a receiver at the relay's,
// started by `command` (a namespace's, or none).
struct Floor
{
    Floor(const QString &relayAddress, const QStringList &command)
    {
        sender.start(
            QStringLiteral("gst-launch-1.0"),
            QProcess::splitCommand(QStringLiteral("pulsesrc latency-time=5000 ! %1 ! udpsink host=%2 port=%3")
                                       .arg(QLatin1StringView(AudioStreamFormat::Encoder), relayAddress)
                                       .arg(FloorPort)));
        const QStringList line = command + QStringList{QStringLiteral("gst-launch-1.0")}
            + QProcess::splitCommand(QStringLiteral(
                                         "udpsrc address=%1 port=%2 caps=%3 ! rtpjitterbuffer latency=%4 "
                                         "! %5 ! pulsesink device=%6 buffer-time=20000 latency-time=5000")
                                         .arg(relayAddress)
                                         .arg(FloorPort)
                                         .arg(QLatin1StringView(AudioStreamFormat::RtpCaps))
                                         .arg(TransmitAudio::Delay)
                                         .arg(QLatin1StringView(AudioStreamFormat::Decoder), FloorSink));
        receiver.start(line.first(), line.mid(1));
    }
    ~Floor()
    {
        stop(sender);
        stop(receiver);
    }

    QProcess sender;
    QProcess receiver;
};

// A panel's link to the relay: its push-to-talk on the wire, and the
// radio's status asked for on the same link.
class Panel
{
public:
    bool link(const QString &host, quint16 port)
    {
        if (!linkAndPlay(m_link, audio, host, port))
            return false;
        QObject::connect(&pushToTalk, &PushToTalk::send,
                         [this](const QString &command) { m_link.write(command.toLatin1()); });
        QObject::connect(&pushToTalk, &PushToTalk::pressedChanged, &audio, &RemoteAudio::setTransmitting);
        QObject::connect(&audio, &RemoteAudio::failed,
                         [](const QString &why) { std::printf("panel: %s\n", qPrintable(why)); });
        greet();
        return true;
    }

    // As the relay greets: it leases the transmitter.
    void greet() { pushToTalk.noteGreeting(QStringLiteral("!!Q9 relay ready tx=180;")); }

    // The time from now until the radio says it transmits (or not), in
    // milliseconds: halfway through the query that first says so.
    double untilTransmitting(bool transmitting)
    {
        QElapsedTimer since;
        since.start();
        for (;;) {
            const double asked = secondsSince(since);
            const std::optional<bool> said = m_watch.transmitting();
            if (!said)
                return NAN;
            if (*said == transmitting)
                return (asked + secondsSince(since)) / 2 * 1000;
        }
    }

    void write(const QByteArray &command) { m_link.write(command); }

    RemoteAudio audio;
    PushToTalk pushToTalk;

private:
    QTcpSocket m_link;
    RadioWatch m_watch{m_link};
};

void print(const char *what, const QList<double> &milliseconds, const char *goal)
{
    std::printf("%s: median %.1f ms, worst %.1f ms over %lld tries%s\n", what, median(milliseconds),
                worst(milliseconds), qlonglong(milliseconds.size()), goal);
}

// Clicks once a second into the microphone while the panel transmits; each
// end's share of a core meanwhile, once both chains play into their sinks.
void measureMicrophone(Panel &panel, qint64 relayPid, const QString &relayAddress, const QStringList &command)
{
    const Floor floor(relayAddress, command);
    panel.pushToTalk.press();
    runFor(1);
    Meter meter;
    if (!meter.start({RadioInput, FloorSink}))
        return;
    const double relayBefore = cpuSecondsOf(relayPid);
    const double panelBefore = processCpuSeconds();
    runFor(Tries);
    std::printf("relay's share of a core while transmitting: %.4f\n",
                (cpuSecondsOf(relayPid) - relayBefore) / Tries);
    std::printf("panel's share of a core while transmitting: %.4f\n",
                (processCpuSeconds() - panelBefore) / Tries);
    panel.pushToTalk.release();
    print("microphone to sink", meter.delays(), " (goal: a median of at most 150 ms on loopback)");
    print("the bare chain's, the floor", meter.delays(1), "");
}

// Push-to-talk pressed and let go, and pressed and left to lapse.
void measureKeying(Panel &panel)
{
    QList<double> keyed, released, lapsed;
    for (int i = 0; i < Tries; ++i) {
        panel.pushToTalk.press();
        keyed.append(panel.untilTransmitting(true));
        runFor(HoldSeconds);
        panel.pushToTalk.release();
        released.append(panel.untilTransmitting(false));
        panel.pushToTalk.press();
        panel.untilTransmitting(true);
        // The renewals stop as when the panel is gone; the last went out
        // within a renewal's interval before.
        panel.pushToTalk.dropLink();
        lapsed.append(panel.untilTransmitting(false));
        panel.write("RX;");
        panel.greet();
    }
    print("key to keyed", keyed, " (goal: a median of at most 100 ms on a LAN)");
    print("release to unkeyed", released, " (goal: at most 100 ms)");
    print("renewals stopped to unkeyed", lapsed, " (the lease is 500 ms)");
}

// q9sim's relay on `address`, playing transmit audio into RadioInput,
// started by `command` (a namespace's, or none); returns its panel port.
quint16 startRelay(QProcess &relay, const QString &address, const QStringList &command = {},
                   const QString &allowed = {})
{
    QStringList arguments{QStringLiteral("--listen"), address + QStringLiteral(":0"),
                          QStringLiteral("--audio"), QStringLiteral("--audio-sink"), RadioInput};
    if (!allowed.isEmpty())
        arguments << QStringLiteral("--allow") << allowed;
    const QStringList line = command
        + QStringList{QCoreApplication::applicationDirPath() + QStringLiteral("/q9sim")} + arguments;
    relay.setProcessChannelMode(QProcess::MergedChannels);
    relay.start(line.first(), line.mid(1));
    static const QRegularExpression listening(QStringLiteral("listening on \\S+:(\\d+)"));
    const QRegularExpressionMatch match = awaitOutput(relay, listening);
    return match.hasMatch() ? match.captured(1).toUShort() : 0;
}

void measure(const char *where, const QString &host, quint16 port, const QProcess &relay,
             const QStringList &command = {})
{
    std::printf("== %s\n", where);
    Panel panel;
    if (!port || !panel.link(host, port)) {
        std::printf("bench_transmit: the relay did not serve audio\n");
        return;
    }
    // The microphone hears clicks all along, as a real one hears the room:
    // an idle null sink renders in long blocks, and its monitor would give
    // the microphone's first samples late.
    MediaPipeline clicks;
    if (!clicks.start(QStringLiteral("audiotestsrc wave=ticks freq=1000 volume=0.5 is-live=true "
                                     "! pulsesink device=q9source"))) {
        std::printf("bench_transmit: cannot click: %s\n", qPrintable(clicks.errorString()));
        return;
    }
    runFor(2);
    measureKeying(panel);
    measureMicrophone(panel, relay.processId(), host, command);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc > 1)
        Tries = std::max(1, QString::fromLocal8Bit(argv[1]).toInt());
    BenchWorkingDir dir;
    SoundServer sound({QStringLiteral("q9source"), RadioInput, FloorSink});
    // The panel's microphone hears what is played into q9source.
    if (!sound.isRunning()
        || QProcess::execute(QStringLiteral("pactl"),
                             {QStringLiteral("set-default-source"), QStringLiteral("q9source.monitor")})
            != 0) {
        std::printf("bench_transmit: no sound server\n");
        return 1;
    }
    {
        QProcess relay;
        const quint16 port = startRelay(relay, QStringLiteral("127.0.0.1"));
        measure("loopback", QStringLiteral("127.0.0.1"), port, relay);
        stop(relay);
    }
    NetworkPath network;
    QString problem;
    if (!network.open(&problem, {80, 20, 0})) {
        std::printf("no emulated path: %s\n", qPrintable(problem));
        return 0;
    }
    QProcess relay;
    const QStringList far = network.inNamespace(NetworkPath::Far, QStringLiteral("env"), {});
    const quint16 port
        = startRelay(relay, network.address(NetworkPath::Far), far, network.address(NetworkPath::Near));
    network.enter(NetworkPath::Near);
    measure("80 +- 20 ms each way", network.address(NetworkPath::Far), port, relay, far);
    network.leave();
    stop(relay);
    return 0;
}
