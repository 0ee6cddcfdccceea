#pragma once

// What the audio benchmarks share: clicks found in what sinks play, timed
// on one clock, and a panel's link to a relay that offers its audio.

#include "audio/remote_audio.h"
#include "audio_pass.h"
#include "media_pipeline.h"
#include "sound_server.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

#include <gst/app/gstappsink.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csignal>
#include <mutex>
#include <optional>
#include <utility>

#include <unistd.h>

namespace AudioBench {

inline constexpr double ClickLevel = 0.1;
// Below the quiet tone: the sink plays nothing.
inline constexpr double SilentLevel = 0.004;

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
            blockEnergy += double(samples[i]) * samples[i];
            if (++blockSamples == SoundServer::SampleRate / 100) {
                const bool silent = std::sqrt(blockEnergy / blockSamples) < SilentLevel * 32768;
                silentBlocks += silent;
                if (std::exchange(silentNow, silent) && !silent)
                    silenceEnds.append(at);
                blockEnergy = 0;
                blockSamples = 0;
            }
        }
        gst_buffer_unmap(buffer, &map);
    }

    // The seconds of 10 ms blocks that were silent.
    double silentSeconds() const
    {
        const std::lock_guard lock(mutex);
        return silentBlocks / 100.0;
    }
    // When the sound came back from the first silence that ended after
    // `from` (`from` itself if none began), or nothing if it is silent still.
    std::optional<double> backAfter(double from) const
    {
        const std::lock_guard lock(mutex);
        const auto end
            = std::find_if(silenceEnds.begin(), silenceEnds.end(), [from](double at) { return at > from; });
        if (end != silenceEnds.end())
            return *end;
        return silentNow ? std::nullopt : std::optional(from);
    }

    mutable std::mutex mutex;
    QList<double> onsets;
    double quietUntil = 0;
    int silentBlocks = 0;
    bool silentNow = false;
    QList<double> silenceEnds;
    double blockEnergy = 0;
    int blockSamples = 0;
};

// The source's and the sinks' monitors in one pipeline, so their times share
// one clock: each buffer is stamped by that clock as it is read, less what
// the sound server says it held back. Stamped by its count of samples, a
// monitor that began before its sink had a stream is off by a constant.
struct Meter
{
    static inline const QString Stamping = QStringLiteral("slave-method=re-timestamp provide-clock=false");

    MediaPipeline pipeline;
    OnsetFinder source;
    std::array<OnsetFinder, 3> sinks;

    bool start(const QStringList &sinkNames)
    {
        const QString caps = QStringLiteral("audio/x-raw,format=S16LE,rate=48000,channels=1");
        QString description
            = QStringLiteral(
                  "pulsesrc device=q9source.monitor %2 ! audioconvert ! %1 ! appsink name=source sync=false")
                  .arg(caps, Stamping);
        for (int i = 0; i < sinkNames.size(); ++i)
            description
                += QStringLiteral(
                       " pulsesrc device=%1.monitor %2 ! audioconvert ! %3 ! appsink name=sink%4 sync=false")
                       .arg(sinkNames[i], Stamping, caps)
                       .arg(i);
        const bool started = pipeline.start(description, [this, count = sinkNames.size()] {
            pipeline.useSystemClock();
            hook("source", source);
            for (int i = 0; i < count; ++i)
                hook(QByteArray("sink" + QByteArray::number(i)).constData(), sinks[i]);
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
    // Each click's delay from source to a sink, in milliseconds.
    QList<double> delays(int sink = 0) const
    {
        QList<double> found;
        const QList<double> heard = sinks[sink].found();
        for (const double click : source.found()) {
            const auto arrival
                = std::find_if(heard.begin(), heard.end(), [click](double at) { return at > click; });
            if (arrival != heard.end() && *arrival - click < 0.9)
                found.append((*arrival - click) * 1000);
        }
        return found;
    }
};

inline double median(QList<double> values)
{
    if (values.isEmpty())
        return NAN;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

inline double cpuSecondsOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
    return (fields[12].toDouble() + fields[13].toDouble()) / double(sysconf(_SC_CLK_TCK));
}

inline void runFor(double seconds)
{
    QTest::qWait(int(seconds * 1000));
}

inline double worst(const QList<double> &values)
{
    return values.isEmpty() ? NAN : *std::max_element(values.begin(), values.end());
}

// Waits for a line of a program's output that `pattern` matches.
inline QRegularExpressionMatch awaitOutput(QProcess &process, const QRegularExpression &pattern)
{
    QByteArray said;
    QRegularExpressionMatch match;
    (void)QTest::qWaitFor(
        [&] {
            said += process.readAllStandardOutput();
            match = pattern.match(QString::fromLocal8Bit(said));
            return match.hasMatch() || process.state() == QProcess::NotRunning;
        },
        20000);
    return match;
}

// Links as a panel does and plays what the greeting offers, by whichever
// way passes.
inline bool linkAndPlay(QTcpSocket &link, RemoteAudio &player, const QString &host, quint16 port)
{
    static const QRegularExpression offer(QStringLiteral("udp=(\\S+) audio=(\\d+);"));
    QByteArray greeting;
    QRegularExpressionMatch match;
    link.connectToHost(host, port);
    (void)QTest::qWaitFor(
        [&] {
            greeting += link.readAll();
            match = offer.match(QString::fromLatin1(greeting));
            return match.hasMatch();
        },
        20000);
    if (!match.hasMatch())
        return false;
    player.play({host, match.captured(2).toUShort(), AudioPass::fromText(match.captured(1)), {}, {}});
    return true;
}

inline void stop(QProcess &process)
{
    ::kill(pid_t(process.processId()), SIGTERM);
    process.waitForFinished();
}

} // namespace AudioBench
