#include "media_pipeline.h"

#include "audio_stream_format.h"
#include "output_alignment.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/audio/gstaudiobasesink.h>
#include <gst/gst.h>

#include <atomic>
#include <memory>
#include <mutex>

bool MediaPipeline::initialise(QString *problem)
{
    static std::once_flag once;
    static QString initProblem;
    std::call_once(once, [] {
        GError *error = nullptr;
        if (!gst_init_check(nullptr, nullptr, &error)) {
            initProblem = QStringLiteral("GStreamer cannot start: %1").arg(QString::fromUtf8(error->message));
            g_error_free(error);
        }
    });
    *problem = initProblem;
    return initProblem.isEmpty();
}

namespace {

// GStreamer's debug text ends with the cause in the element's own words
// ("Failed to connect to host '127.0.0.1:2302': Connection refused"); its
// message alone is often only "Could not open resource for reading." When
// the element gave no cause, the last line is where the error was raised
// ("gsttcpclientsrc.c(491): gst_tcp_client_src_start (): /GstPipeline:...").
QString causeOf(const GError *error, const gchar *debug)
{
    const QString message = QString::fromUtf8(error->message);
    const QString detail = QString::fromUtf8(debug ? debug : "").section(u'\n', -1).trimmed();
    if (detail.isEmpty() || detail.contains(QLatin1StringView("(): ")))
        return message;
    return detail;
}

GstMessage *popFrom(GstElement *pipeline, GstMessageType types)
{
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *message = gst_bus_pop_filtered(bus, types);
    gst_object_unref(bus);
    return message;
}

} // namespace

struct BusWatch
{
    static GstBusSyncReply onMessage(GstBus *bus, GstMessage *message, gpointer self);
};

MediaPipeline::MediaPipeline(QObject *parent)
    : QObject(parent)
{ }

MediaPipeline::~MediaPipeline()
{
    stop();
}

bool MediaPipeline::start(const QString &description, const std::function<void()> &prepare)
{
    stop();
    m_failedElement.clear();
    if (!initialise(&m_errorString))
        return false;
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch_full(description.toUtf8().constData(), nullptr,
                                                 GST_PARSE_FLAG_FATAL_ERRORS, &error);
    if (!pipeline) {
        // A missing plugin shows as a missing element: "no element "opusdec"".
        m_errorString = error->code == GST_PARSE_ERROR_NO_SUCH_ELEMENT
            ? QStringLiteral("a GStreamer plugin is missing (%1)").arg(QString::fromUtf8(error->message))
            : QString::fromUtf8(error->message);
        g_error_free(error);
        return false;
    }
    m_pipeline = pipeline;
    m_reported = false;
    ++m_run;
    if (prepare)
        prepare();
    if (gst_element_set_state(m_pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        // The element that failed has put its reason on the bus.
        GstMessage *message = popFrom(m_pipeline, GST_MESSAGE_ERROR);
        m_errorString = message ? failureOf(message, &m_failedElement)
                                : QStringLiteral("the audio pipeline cannot start");
        if (message)
            gst_message_unref(message);
        stop();
        return false;
    }
    GstBus *bus = gst_element_get_bus(m_pipeline);
    gst_bus_set_sync_handler(bus, &BusWatch::onMessage, this, nullptr);
    gst_object_unref(bus);
    // What came before the handler was there.
    if (GstMessage *message = popFrom(m_pipeline, GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_EOS)))
        BusWatch::onMessage(nullptr, message, this);
    return true;
}

void MediaPipeline::stop()
{
    if (!m_pipeline)
        return;
    // Stopping joins the streaming threads, so no message comes after this.
    gst_element_set_state(m_pipeline, GST_STATE_NULL);
    GstBus *bus = gst_element_get_bus(m_pipeline);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    gst_object_unref(m_pipeline);
    m_pipeline = nullptr;
    ++m_run;
}

QString MediaPipeline::quoted(const QString &text)
{
    QString escaped = text;
    escaped.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
    return u'"' + escaped + u'"';
}

namespace {

// A buffer that comes this far from where the one before it ended plays at
// its own time rather than running on from that one, so that a delay that
// shrank is taken up at once.
constexpr std::chrono::nanoseconds AlignmentThreshold = std::chrono::milliseconds(5);

// On an output's streaming thread.
void followClock(GstAudioBaseSink *, GstClockTime external, GstClockTime internal, GstClockTimeDiff *skew,
                 GstAudioBaseSinkDiscontReason reason, gpointer alignment)
{
    auto *self = static_cast<OutputAlignment *>(alignment);
    if (reason != GST_AUDIO_BASE_SINK_DISCONT_REASON_NO_DISCONT || !skew) {
        self->restart();
        return;
    }
    *skew = self->correction(std::chrono::nanoseconds(GST_CLOCK_DIFF(internal, external))).count();
}

} // namespace

void MediaPipeline::useSystemClock()
{
    GstClock *clock = gst_system_clock_obtain();
    gst_pipeline_use_clock(GST_PIPELINE(m_pipeline), clock);
    gst_object_unref(clock);
}

void MediaPipeline::keepInLine(const char *output)
{
    GstElement *sink = element(output);
    if (!sink)
        return;
    if (GST_IS_AUDIO_BASE_SINK(sink)) {
        g_object_set(sink, "slave-method", GST_AUDIO_BASE_SINK_SLAVE_CUSTOM, "alignment-threshold",
                     guint64(AlignmentThreshold.count()), nullptr);
        gst_audio_base_sink_set_custom_slaving_callback(
            GST_AUDIO_BASE_SINK(sink), &followClock, new OutputAlignment,
            [](gpointer alignment) { delete static_cast<OutputAlignment *>(alignment); });
    }
    gst_object_unref(sink);
}

void MediaPipeline::setLatency(std::chrono::nanoseconds latency)
{
    gst_pipeline_set_latency(GST_PIPELINE(m_pipeline), GstClockTime(latency.count()));
}

GstElement *MediaPipeline::element(const char *name) const
{
    return m_pipeline ? gst_bin_get_by_name(GST_BIN(m_pipeline), name) : nullptr;
}

void MediaPipeline::keyDecrypter(const char *decrypter, const QByteArray &key)
{
    GstElement *element = this->element(decrypter);
    if (!element)
        return;
    GstBuffer *keyBuffer = gst_buffer_new_memdup(key.constData(), size_t(key.size()));
    GstCaps *caps = gst_caps_new_simple("application/x-srtp", "srtp-key", GST_TYPE_BUFFER, keyBuffer,
                                        "srtp-cipher", G_TYPE_STRING, AudioStreamFormat::SrtpCipher,
                                        "srtp-auth", G_TYPE_STRING, AudioStreamFormat::SrtpAuth,
                                        "srtcp-cipher", G_TYPE_STRING, AudioStreamFormat::SrtpCipher,
                                        "srtcp-auth", G_TYPE_STRING, AudioStreamFormat::SrtpAuth, nullptr);
    gst_buffer_unref(keyBuffer);
    g_signal_connect_data(
        element, "request-key", G_CALLBACK(+[](GstElement *, guint, gpointer caps) {
            return gst_caps_ref(static_cast<GstCaps *>(caps));
        }),
        caps, [](gpointer caps, GClosure *) { gst_caps_unref(static_cast<GstCaps *>(caps)); },
        GConnectFlags(0));
    gst_object_unref(element);
}

void MediaPipeline::push(const char *source, const QByteArray &bytes)
{
    if (GstElement *appsrc = element(source)) {
        gst_app_src_push_buffer(GST_APP_SRC(appsrc), gst_buffer_new_memdup(bytes.constData(), bytes.size()));
        gst_object_unref(appsrc);
    }
}

void MediaPipeline::endStream(const char *source)
{
    if (GstElement *appsrc = element(source)) {
        gst_app_src_end_of_stream(GST_APP_SRC(appsrc));
        gst_object_unref(appsrc);
    }
}

// An appsink's buffers on their way to the pipeline's thread.
struct Tap
{
    MediaPipeline *pipeline;
    quint64 run;
    int most;
    std::function<void(const QByteArray &)> take;
    std::atomic<int> handedOn = 0;

    // On GStreamer's thread.
    void pull(GstAppSink *sink, const std::shared_ptr<Tap> &self)
    {
        GstSample *sample = gst_app_sink_pull_sample(sink);
        if (!sample)
            return;
        if (handedOn < most) {
            ++handedOn;
            GstBuffer *buffer = gst_sample_get_buffer(sample);
            QByteArray bytes(qsizetype(gst_buffer_get_size(buffer)), Qt::Uninitialized);
            gst_buffer_extract(buffer, 0, bytes.data(), size_t(bytes.size()));
            QMetaObject::invokeMethod(
                pipeline,
                [self, bytes] {
                    --self->handedOn;
                    if (self->run == self->pipeline->m_run)
                        self->take(bytes);
                },
                Qt::QueuedConnection);
        }
        gst_sample_unref(sample);
    }
};

void MediaPipeline::takeFrom(const char *sink, int most, std::function<void(const QByteArray &)> take)
{
    GstElement *appsink = element(sink);
    if (!appsink)
        return;
    using Held = std::shared_ptr<Tap>;
    auto *held = new Held(new Tap{this, m_run, most, std::move(take)});
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink *from, gpointer tap) {
        const Held &self = *static_cast<Held *>(tap);
        self->pull(from, self);
        return GST_FLOW_OK;
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(appsink), &callbacks, held,
                               [](gpointer tap) { delete static_cast<Held *>(tap); });
    gst_object_unref(appsink);
}

// Runs on whichever thread posted the message: errors and the end are kept
// (the rest dropped at once) and reported on the pipeline's thread, where a
// changed latency (a jitter buffer that grew or shrank) is also taken in.
// Every message is dropped, and a dropped message is the handler's to let
// go: one kept would keep its element, and so the whole pipeline and its
// bus's descriptors, alive for good.
GstBusSyncReply BusWatch::onMessage(GstBus *, GstMessage *message, gpointer self)
{
    const std::shared_ptr<GstMessage> held(message, &gst_message_unref);
    auto *pipeline = static_cast<MediaPipeline *>(self);
    const quint64 run = pipeline->m_run;
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_LATENCY) {
        QMetaObject::invokeMethod(
            pipeline,
            [pipeline, run] {
                if (run == pipeline->m_run)
                    gst_bin_recalculate_latency(GST_BIN(pipeline->m_pipeline));
            },
            Qt::QueuedConnection);
        return GST_BUS_DROP;
    }
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR && GST_MESSAGE_TYPE(message) != GST_MESSAGE_EOS)
        return GST_BUS_DROP;
    // Held until reported, or let go with the call should the pipeline's
    // owner go first.
    QMetaObject::invokeMethod(
        pipeline,
        [pipeline, run, held] {
            if (run == pipeline->m_run)
                pipeline->report(held.get());
        },
        Qt::QueuedConnection);
    return GST_BUS_DROP;
}

void MediaPipeline::report(GstMessage *message)
{
    if (m_reported)
        return;
    m_reported = true;
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
        emit ended();
        return;
    }
    QString element;
    const QString why = failureOf(message, &element);
    emit failed(element, why);
}

QString MediaPipeline::failureOf(GstMessage *message, QString *element) const
{
    GError *error = nullptr;
    gchar *debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    const QString why = causeOf(error, debug);
    // Only a resource (a device, a connection) fails on its own; any other
    // error is the stream's, wherever it shows.
    if (element)
        *element = error->domain == GST_RESOURCE_ERROR ? QString::fromUtf8(GST_MESSAGE_SRC_NAME(message))
                                                       : QString();
    g_error_free(error);
    g_free(debug);
    return why;
}
