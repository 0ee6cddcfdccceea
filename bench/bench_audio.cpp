// The receiver's audio on loopback, from a sound server's source through
// q9relay to the panel's player and into a sink:
//   - the time from a click played into the source to its arrival at the
//     sink (goal: at most 150 ms), at the start and after the run (goal:
//     not grown), ten minutes unless told (bench_audio MINUTES);
//   - the stream's bitrate;
//   - the relay's and the panel's share of a core while streaming (goal:
//     each at most 0.03).
// Runs its own PulseAudio server with null sinks, so it needs no desktop.

#include "audio/audio_player.h"
#include "bench_support.h"
#include "media_pipeline.h"
#include "sound_server.h"

#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

#include <gst/app/gstappsink.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <optional>

namespace {

constexpr double CpuSeconds = 30;
constexpr double LatencySeconds = 20;
constexpr double ClickLevel = 0.1;

// The running time, in seconds, of each click's first loud sample in what
// an appsink receives.
struct OnsetFinder
{
    QList<double> found() const
    {
        const std::lock_guard lock(mutex);
        return onsets;
    }
    // On GStreamer's thread.
    void take(GstSample *sample)
    {
        const std::lock_guard lock(mutex);
        GstBuffer *buffer = gst_sample_get_buffer(sample);
        GstMapInfo map;
        gst_buffer_map(buffer, &map, GST_MAP_READ);
        const auto *samples = reinterpret_cast<const qint16 *>(map.data);
        const double start = double(GST_BUFFER_PTS(buffer)) / GST_SECOND;
        for (gsize i = 0; i < map.size / sizeof(qint16); ++i) {
            const double at = start + double(i) / SoundServer::SampleRate;
            if (std::abs(samples[i]) > ClickLevel * 32768 && at > quietUntil) {
                onsets.append(at);
                // A click's ring is not the next click.
                quietUntil = at + 0.5;
            }
        }
        gst_buffer_unmap(buffer, &map);
    }

    mutable std::mutex mutex;
    QList<double> onsets;
    double quietUntil = 0;
};

// Both monitors in one pipeline, so their times share one clock.
struct Meter
{
    MediaPipeline pipeline;
    OnsetFinder source;
    OnsetFinder sink;

    bool start()
    {
        const QString caps = QStringLiteral("audio/x-raw,format=S16LE,rate=48000,channels=1");
        const bool started = pipeline.start(
            QStringLiteral(
                "pulsesrc device=q9source.monitor ! audioconvert ! %1 ! appsink name=source sync=false "
                "pulsesrc device=q9test.monitor ! audioconvert ! %1 ! appsink name=sink sync=false")
                .arg(caps),
            [this] {
                hook("source", source);
                hook("sink", sink);
            });
        if (!started)
            std::printf("meter: %s\n", qPrintable(pipeline.errorString()));
        return started;
    }
    void hook(const char *name, OnsetFinder &finder)
    {
        GstElement *appsink = pipeline.element(name);
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = [](GstAppSink *from, gpointer finder) {
            GstSample *sample = gst_app_sink_pull_sample(from);
            static_cast<OnsetFinder *>(finder)->take(sample);
            gst_sample_unref(sample);
            return GST_FLOW_OK;
        };
        gst_app_sink_set_callbacks(GST_APP_SINK(appsink), &callbacks, &finder, nullptr);
        gst_object_unref(appsink);
    }
    // Each click's delay from source to sink, in milliseconds.
    QList<double> delays() const
    {
        QList<double> found;
        const QList<double> heard = sink.found();
        for (const double click : source.found()) {
            const auto arrival
                = std::find_if(heard.begin(), heard.end(), [click](double at) { return at > click; });
            if (arrival != heard.end() && *arrival - click < 0.5)
                found.append((*arrival - click) * 1000);
        }
        return found;
    }
};

double median(QList<double> values)
{
    if (values.isEmpty())
        return NAN;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double cpuSecondsOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
    return (fields[12].toDouble() + fields[13].toDouble()) / double(sysconf(_SC_CLK_TCK));
}

void runFor(double seconds)
{
    QTest::qWait(int(seconds * 1000));
}

// The relay on a simulated radio's port, capturing the source's monitor;
// returns its audio port.
quint16 startRelay(QProcess &radio, QProcess &relay, const QString &dir)
{
    const QString link = dir + QStringLiteral("/radio");
    if (!startSimulatedRadio(radio, link))
        return 0;
    relay.start(QCoreApplication::applicationDirPath() + QStringLiteral("/q9relay"),
                {QStringLiteral("--device"), link, QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                 QStringLiteral("--audio-source"), QStringLiteral("q9source.monitor")});
    static const QRegularExpression audio(QStringLiteral("audio on 127.0.0.1:(\\d+)"));
    QByteArray said;
    QRegularExpressionMatch match;
    const bool ended = QTest::qWaitFor(
        [&] {
            said += relay.readAllStandardOutput();
            match = audio.match(QString::fromLocal8Bit(said));
            return match.hasMatch() || relay.state() == QProcess::NotRunning;
        },
        20000);
    return ended && match.hasMatch() ? match.captured(1).toUShort() : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const double minutes = argc > 1 ? QString::fromLocal8Bit(argv[1]).toDouble() : 10;
    BenchWorkingDir dir;
    SoundServer sound({QStringLiteral("q9source")});
    if (!sound.isRunning()) {
        std::printf("bench_audio: no sound server\n");
        return 1;
    }
    QProcess radio;
    QProcess relay;
    const quint16 port = startRelay(radio, relay, dir.path());
    if (!port) {
        std::printf("bench_audio: the relay did not serve audio\n");
        return 1;
    }

    // The stream as it leaves the relay, counted.
    QTcpSocket counter;
    qint64 streamBytes = 0;
    QObject::connect(&counter, &QTcpSocket::readyRead, [&] { streamBytes += counter.readAll().size(); });
    counter.connectToHost(QHostAddress::LocalHost, port);

    AudioPlayer player;
    QObject::connect(&player, &AudioPlayer::failed,
                     [](const QString &why) { std::printf("player: %s\n", qPrintable(why)); });
    player.play({QStringLiteral("127.0.0.1"), port});

    // Streaming, nothing else in this process: the panel's share.
    runFor(2);
    streamBytes = 0;
    const double relayBefore = cpuSecondsOf(relay.processId());
    const double panelBefore = processCpuSeconds();
    runFor(CpuSeconds);
    std::printf("stream bitrate: %.1f kbit/s (RTP and framing included)\n",
                streamBytes * 8 / CpuSeconds / 1000);
    std::printf("relay's share of a core while streaming: %.4f (goal: at most 0.03)\n",
                (cpuSecondsOf(relay.processId()) - relayBefore) / CpuSeconds);
    std::printf("panel player's share of a core while streaming: %.4f (goal: at most 0.03)\n",
                (processCpuSeconds() - panelBefore) / CpuSeconds);

    // Clicks once a second into the source, timed at both ends.
    MediaPipeline clicks;
    Meter meter;
    if (!meter.start()
        || !clicks.start(QStringLiteral("audiotestsrc wave=ticks freq=1000 volume=0.5 is-live=true "
                                        "! pulsesink device=q9source"))) {
        std::printf("bench_audio: cannot click: %s\n", qPrintable(clicks.errorString()));
        return 1;
    }
    runFor(LatencySeconds);
    const QList<double> first = meter.delays();
    std::printf("click to sink: median %.0f ms, worst %.0f ms over %lld clicks (goal: at most 150 ms)\n",
                median(first), first.isEmpty() ? NAN : *std::max_element(first.begin(), first.end()),
                qlonglong(first.size()));
    runFor(std::max(0.0, minutes * 60 - CpuSeconds - 2 * LatencySeconds));
    const qsizetype before = meter.delays().size();
    runFor(LatencySeconds);
    const QList<double> last = meter.delays().mid(before);
    std::printf("after %g minutes: median %.0f ms over %lld clicks (goal: not grown)\n", minutes,
                median(last), qlonglong(last.size()));
    ::kill(pid_t(relay.processId()), SIGTERM);
    relay.waitForFinished();
    radio.terminate();
    radio.waitForFinished();
    return 0;
}
