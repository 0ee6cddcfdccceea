#include "audio_stream.h"

#include "audio_stream_format.h"

#include <QEventLoop>
#include <QTimer>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

namespace {

constexpr char GeneratorName[] = "generator";
constexpr char PacketsName[] = "packets";

} // namespace

AudioStream::AudioStream(const QString &sourceName, QObject *parent)
    : QObject(parent)
    , m_sourceName(sourceName)
{
    connect(&m_pipeline, &MediaPipeline::failed, this,
            [this](const QString &, const QString &why) { emit failed(why); });
    connect(&m_pipeline, &MediaPipeline::ended, this,
            [this] { emit failed(QStringLiteral("the audio source ended")); });
}

AudioStream::AudioStream(Generator generator, QObject *parent)
    : AudioStream(QString(), parent)
{
    m_generator = std::move(generator);
}

AudioStream::~AudioStream()
{
    m_pipeline.stop();
}

QString AudioStream::origin() const
{
    return m_generator ? QStringLiteral("the simulated receiver")
                       : QStringLiteral("source %1").arg(m_sourceName);
}

// A captured source is live and sent as it comes; generated audio waits at
// the end for its time, so that it is made no faster than it is heard and
// a change to the generator is heard within a frame or two.
QString AudioStream::description() const
{
    const QString source = m_generator
        ? QStringLiteral("appsrc name=%1 is-live=false format=time max-bytes=%2 "
                         "caps=audio/x-raw,format=S16LE,layout=interleaved,rate=%3,channels=1")
              .arg(QLatin1StringView(GeneratorName))
              .arg(2 * AudioStreamFormat::SamplesPerFrame * int(sizeof(qint16)))
              .arg(AudioStreamFormat::SampleRate)
        : m_sourceName == u"default"
        ? QStringLiteral("pulsesrc")
        : QStringLiteral("pulsesrc device=%1").arg(MediaPipeline::quoted(m_sourceName));
    return QStringLiteral("%1 ! %2 ! appsink name=%3 sync=%4 emit-signals=false max-buffers=50 drop=true")
        .arg(source, QLatin1StringView(AudioStreamFormat::Encoder), QLatin1StringView(PacketsName),
             m_generator ? QStringLiteral("true") : QStringLiteral("false"));
}

// A source that is not there, or not allowed, fails only once it plays:
// the stream counts as started when its first packet is out.
bool AudioStream::start()
{
    m_samplesMade = 0;
    // The callbacks are in place before the first frame is asked for.
    QString problem;
    if (!m_pipeline.start(description(), [this] {
            hookGenerator();
            hookPackets();
        })) {
        problem = m_pipeline.errorString();
    } else if (firstPacket(&problem)) {
        return true;
    }
    m_pipeline.stop();
    m_errorString = QStringLiteral("no audio from %1: %2").arg(origin(), problem);
    return false;
}

bool AudioStream::firstPacket(QString *problem)
{
    QEventLoop loop;
    bool arrived = false;
    *problem = QStringLiteral("nothing came within %1 seconds").arg(FirstPacketSeconds.count());
    connect(this, &AudioStream::packet, &loop, [&] {
        arrived = true;
        loop.quit();
    });
    connect(this, &AudioStream::failed, &loop, [&](const QString &why) {
        *problem = why;
        loop.quit();
    });
    QTimer::singleShot(FirstPacketSeconds, &loop, &QEventLoop::quit);
    loop.exec();
    return arrived;
}

void AudioStream::hookGenerator()
{
    if (!m_generator)
        return;
    GstElement *source = m_pipeline.element(GeneratorName);
    GstAppSrcCallbacks callbacks{};
    callbacks.need_data = [](GstAppSrc *appsrc, guint, gpointer self) {
        static_cast<AudioStream *>(self)->makeFrame(appsrc);
    };
    gst_app_src_set_callbacks(GST_APP_SRC(source), &callbacks, this, nullptr);
    gst_object_unref(source);
}

// On GStreamer's thread: one frame from the generator, stamped with its
// place in the stream.
void AudioStream::makeFrame(GstAppSrc *source)
{
    constexpr int count = AudioStreamFormat::SamplesPerFrame;
    GstBuffer *buffer = gst_buffer_new_allocate(nullptr, count * sizeof(qint16), nullptr);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    m_generator(std::span(reinterpret_cast<qint16 *>(map.data), count));
    gst_buffer_unmap(buffer, &map);
    GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(m_samplesMade, GST_SECOND, AudioStreamFormat::SampleRate);
    GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale(count, GST_SECOND, AudioStreamFormat::SampleRate);
    m_samplesMade += count;
    gst_app_src_push_buffer(source, buffer);
}

void AudioStream::hookPackets()
{
    GstElement *sink = m_pipeline.element(PacketsName);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink *appsink, gpointer self) {
        static_cast<AudioStream *>(self)->takePacket(appsink);
        return GST_FLOW_OK;
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    gst_object_unref(sink);
}

// On GStreamer's thread: the packet is copied out and handed to the Qt
// thread, where the listeners are.
void AudioStream::takePacket(GstAppSink *sink)
{
    GstSample *sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return;
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    QByteArray framed(qsizetype(gst_buffer_get_size(buffer)), Qt::Uninitialized);
    gst_buffer_extract(buffer, 0, framed.data(), size_t(framed.size()));
    gst_sample_unref(sample);
    QMetaObject::invokeMethod(
        this, [this, framed] { emit packet(framed); }, Qt::QueuedConnection);
}
