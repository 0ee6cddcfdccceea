#include "srtp_sealer.h"

#include "audio_stream_format.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

namespace {
constexpr char InputName[] = "rtp";
constexpr char OutputName[] = "srtp";
constexpr int MaxHandedOn = 50;
} // namespace

SrtpSealer::SrtpSealer(QObject *parent)
    : QObject(parent)
{ }

// Its streaming thread is done before anything of it goes.
SrtpSealer::~SrtpSealer()
{
    m_pipeline.stop();
}

bool SrtpSealer::start(const QByteArray &key, QString *problem)
{
    const QString description
        = QStringLiteral("appsrc name=%1 is-live=true format=time caps=%2 ! srtpenc key=%3 rtp-cipher=%4 "
                         "rtp-auth=%5 ! appsink name=%6 sync=false emit-signals=false")
              .arg(QLatin1StringView(InputName), QLatin1StringView(AudioStreamFormat::RtpCaps),
                   QString::fromLatin1(key.toHex()), QLatin1StringView(AudioStreamFormat::SrtpCipher),
                   QLatin1StringView(AudioStreamFormat::SrtpAuth), QLatin1StringView(OutputName));
    if (m_pipeline.start(description, [this] { hookOutput(); }))
        return true;
    *problem = m_pipeline.errorString();
    return false;
}

void SrtpSealer::seal(const QByteArray &rtp)
{
    m_pipeline.push(InputName, rtp);
}

void SrtpSealer::hookOutput()
{
    GstElement *sink = m_pipeline.element(OutputName);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink *appsink, gpointer self) {
        static_cast<SrtpSealer *>(self)->take(appsink);
        return GST_FLOW_OK;
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    gst_object_unref(sink);
}

// On GStreamer's thread.
void SrtpSealer::take(GstAppSink *sink)
{
    GstSample *sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return;
    if (m_handedOn >= MaxHandedOn) {
        gst_sample_unref(sample);
        return;
    }
    ++m_handedOn;
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    QByteArray srtp(qsizetype(gst_buffer_get_size(buffer)), Qt::Uninitialized);
    gst_buffer_extract(buffer, 0, srtp.data(), size_t(srtp.size()));
    gst_sample_unref(sample);
    QMetaObject::invokeMethod(
        this,
        [this, srtp] {
            --m_handedOn;
            emit sealed(srtp);
        },
        Qt::QueuedConnection);
}
