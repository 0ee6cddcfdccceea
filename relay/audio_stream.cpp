#include "audio_stream.h"

#include "audio_device.h"
#include "audio_stream_format.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

namespace {

constexpr char GeneratorName[] = "generator";
constexpr char PacketsName[] = "packets";
constexpr int CapturePeriodMicroseconds = AudioStreamFormat::FrameMilliseconds * 1000 / 2;

// The name a device is passed by, for the two kinds of source the relay
// captures from; empty for any other.
QString sourceName(GstDevice *device)
{
    GstElement *element = gst_device_create_element(device, nullptr);
    if (!element)
        return {};
    QString name;
    gchar *path = nullptr;
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(element), "device"))
        g_object_get(element, "device", &path, nullptr);
    const QByteArrayView factory = GST_OBJECT_NAME(gst_element_get_factory(element));
    if (path && factory == "alsasrc")
        name = AudioDevice::AlsaPrefix.toString() + QString::fromUtf8(path);
    else if (path && factory == "pulsesrc")
        name = QString::fromUtf8(path);
    g_free(path);
    gst_object_unref(element);
    return name;
}

} // namespace

AudioStream::AudioStream(const QString &sourceName, QObject *parent)
    : QObject(parent)
    , m_sourceName(sourceName)
{
    m_retry.setSingleShot(true);
    m_retry.setInterval(RetryInterval);
    connect(&m_retry, &QTimer::timeout, this, &AudioStream::attempt);
    m_firstPacket.setSingleShot(true);
    m_firstPacket.setInterval(FirstPacketSeconds);
    connect(&m_firstPacket, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("nothing came within %1 seconds").arg(FirstPacketSeconds.count()));
    });
    connect(&m_pipeline, &MediaPipeline::failed, this,
            [this](const QString &, const QString &why) { fail(why); });
    connect(&m_pipeline, &MediaPipeline::ended, this,
            [this] { fail(QStringLiteral("the audio source ended")); });
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

bool AudioStream::listSources(QList<Source> *sources, QString *problem)
{
    if (!MediaPipeline::initialise(problem))
        return false;
    GstDeviceMonitor *monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, "Audio/Source", nullptr);
    // A monitor none of whose providers can start (no sound server, no
    // card) finds nothing, which is the answer.
    const bool started = gst_device_monitor_start(monitor);
    GList *devices = started ? gst_device_monitor_get_devices(monitor) : nullptr;
    for (GList *item = devices; item; item = item->next) {
        GstDevice *device = GST_DEVICE(item->data);
        if (const QString name = sourceName(device); !name.isEmpty()) {
            gchar *description = gst_device_get_display_name(device);
            sources->append({name, QString::fromUtf8(description)});
            g_free(description);
        }
    }
    g_list_free_full(devices, gst_object_unref);
    if (started)
        gst_device_monitor_stop(monitor);
    gst_object_unref(monitor);
    return true;
}

QString AudioStream::origin() const
{
    if (m_generator)
        return QStringLiteral("the simulated receiver");
    if (m_sourceName.startsWith(AudioDevice::AlsaPrefix))
        return QStringLiteral("ALSA device %1").arg(m_sourceName.mid(AudioDevice::AlsaPrefix.size()));
    return QStringLiteral("source %1").arg(m_sourceName);
}

// A captured source is live and sent as it comes; generated audio waits at
// the end for its time, so that it is made no faster than it is heard and
// a change to the generator is heard within a frame or two.
QString AudioStream::description() const
{
    return QStringLiteral("%1 ! %2 ! appsink name=%3 sync=%4 emit-signals=false max-buffers=50 drop=true")
        .arg(capture(), QLatin1StringView(AudioStreamFormat::Encoder), QLatin1StringView(PacketsName),
             m_generator ? QStringLiteral("true") : QStringLiteral("false"));
}

QString AudioStream::capture() const
{
    if (m_generator)
        return QStringLiteral("appsrc name=%1 is-live=false format=time max-bytes=%2 "
                              "caps=audio/x-raw,format=S16LE,layout=interleaved,rate=%3,channels=1")
            .arg(QLatin1StringView(GeneratorName))
            .arg(2 * AudioStreamFormat::SamplesPerFrame * int(sizeof(qint16)))
            .arg(AudioStreamFormat::SampleRate);
    // A card's samples are taken every CapturePeriod, half a frame, so that
    // a frame waits for no more than that.
    return AudioDevice::element(m_sourceName, AudioDevice::Way::Capture)
        + QStringLiteral(" latency-time=%1").arg(CapturePeriodMicroseconds);
}

void AudioStream::start()
{
    m_retry.stop();
    attempt();
}

// A source that is not there, or not allowed, fails only once it plays:
// the audio counts as flowing when its first packet is out.
void AudioStream::attempt()
{
    m_samplesMade = 0;
    // The callbacks are in place before the first frame is asked for.
    if (!m_pipeline.start(description(), [this] {
            hookGenerator();
            hookPackets();
            applyExpectedLoss();
        })) {
        fail(m_pipeline.errorString());
        return;
    }
    m_firstPacket.start();
}

void AudioStream::fail(const QString &why)
{
    m_pipeline.stop();
    m_firstPacket.stop();
    m_retry.start();
    const bool wasFlowing = std::exchange(m_flowing, false);
    if (wasFlowing || why != m_lastReason)
        emit stopped(why);
    m_lastReason = why;
}

void AudioStream::setExpectedLoss(int percent)
{
    if (std::exchange(m_expectedLoss, percent) != percent)
        applyExpectedLoss();
}

void AudioStream::applyExpectedLoss()
{
    if (GstElement *encoder = m_pipeline.element(AudioStreamFormat::EncoderName)) {
        g_object_set(encoder, "packet-loss-percentage", m_expectedLoss, nullptr);
        gst_object_unref(encoder);
    }
}

void AudioStream::arrived(const QByteArray &rtp)
{
    if (!m_flowing) {
        m_flowing = true;
        m_firstPacket.stop();
        m_lastReason.clear();
        emit flowing();
    }
    emit packet(rtp);
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

// The listeners are on the Qt thread; a stopped try's last packets never
// reach them.
void AudioStream::hookPackets()
{
    m_pipeline.takeFrom(PacketsName, MaxHandedOn, [this](const QByteArray &rtp) { arrived(rtp); });
}
