#include "audio/remote_audio.h"

#include "audio/audio_receiver.h"

#include "audio_stream_format.h"
#include "srtp_sealer.h"

#include <gst/gst.h>

#include <cstdlib>

namespace {
constexpr char StreamName[] = "Q9 Remote";
constexpr char ReceiverName[] = "receiver";
constexpr char DecrypterName[] = "decrypter";
constexpr char JitterName[] = "jitter";
constexpr char OutputName[] = "output";
constexpr char MicrophoneStreamName[] = "Q9 Remote microphone";
constexpr char MicrophoneName[] = "microphone";
constexpr char MicrophonePacketsName[] = "packets";
// The microphone is read every half frame, so that a frame waits for no
// more than that; half a second of its packets may wait for the network.
constexpr int MicrophonePeriod = 5000;
constexpr int MicrophoneBacklog = 50;
// The output's own buffer, in microseconds: small, as the jitter buffer
// already evens out the network.
constexpr int OutputBuffer = 15000;
constexpr int OutputPeriod = 5000;
constexpr std::chrono::milliseconds AdaptInterval{250};
// The delay changes only by more than this, so that it is not changed for
// every millisecond the spread moves: each growth is heard as a gap, and
// the margin beyond the spread already covers a packet that late.
constexpr int AdaptStep = 10;

QString microphoneFailure(const QString &why)
{
    return QStringLiteral("No microphone to transmit with: %1").arg(why);
}
} // namespace

RemoteAudio::RemoteAudio(QObject *parent)
    : QObject(parent)
    , m_pipeline(new MediaPipeline)
    , m_microphone(new MediaPipeline(m_pipeline))
    , m_adapt(new QTimer(m_pipeline))
{
    m_thread.setObjectName(QStringLiteral("audio player"));
    m_pipeline->moveToThread(&m_thread);
    m_adapt->setInterval(AdaptInterval);
    connect(m_adapt, &QTimer::timeout, m_pipeline, [this] { adaptDelay(); });
    connect(&m_thread, &QThread::finished, m_pipeline, &QObject::deleteLater);
    connect(m_pipeline, &MediaPipeline::failed, this, [this](const QString &element, const QString &why) {
        if (m_playing) {
            stop();
            emit failed(failure(element, why));
        }
    });
    // A microphone that fails stays closed until the next transmission.
    connect(m_microphone, &MediaPipeline::failed, m_pipeline, [this](const QString &, const QString &why) {
        m_microphone->stop();
        emit failed(microphoneFailure(why));
    });
    m_thread.start();
}

RemoteAudio::~RemoteAudio()
{
    stop();
    m_thread.quit();
    m_thread.wait();
}

void RemoteAudio::play(const AudioRoute &route)
{
    m_source = QStringLiteral("%1:%2").arg(route.host).arg(route.port);
    m_playing = true;
    const quint64 run = ++m_run;
    QMetaObject::invokeMethod(
        m_pipeline, [this, run, route] { startRun(run, route); }, Qt::QueuedConnection);
}

void RemoteAudio::setTransmitting(bool transmitting)
{
    QMetaObject::invokeMethod(
        m_pipeline,
        [this, transmitting] {
            m_transmitting = transmitting;
            followMicrophone();
        },
        Qt::QueuedConnection);
}

void RemoteAudio::stop()
{
    if (!m_playing)
        return;
    m_playing = false;
    ++m_run;
    QMetaObject::invokeMethod(
        m_pipeline, [this] { endRun(); }, Qt::QueuedConnection);
}

// On the player's thread from here on, up to tell().
void RemoteAudio::startRun(quint64 run, const AudioRoute &route)
{
    if (run != m_run)
        return;
    endRun();
    m_receiver = new AudioReceiver(route, m_pipeline);
    connect(m_receiver, &AudioReceiver::started, m_pipeline,
            [this, run](const QByteArray &srtpKey) { startPipeline(run, srtpKey); });
    connect(m_receiver, &AudioReceiver::packet, m_pipeline,
            [this](const QByteArray &packet) { m_pipeline->push(ReceiverName, packet); });
    connect(m_receiver, &AudioReceiver::unreachable, m_pipeline, [this, run](const QString &why) {
        tell(run, QStringLiteral("No audio from the relay at %1: %2").arg(m_source, why), false);
    });
    m_receiver->open();
}

void RemoteAudio::endRun()
{
    m_adapt->stop();
    dropReceiver();
    m_pipeline->stop();
    m_srtpKey.clear();
    followMicrophone();
}

// Let go from within its own signals too, and heard no more.
void RemoteAudio::dropReceiver()
{
    if (AudioReceiver *receiver = std::exchange(m_receiver, nullptr)) {
        QObject::disconnect(receiver, nullptr, m_pipeline, nullptr);
        receiver->deleteLater();
    }
}

// Each way's first packet starts the pipeline afresh, keyed for it; the
// microphone, when open, is sealed anew for the new way.
void RemoteAudio::startPipeline(quint64 run, const QByteArray &srtpKey)
{
    m_delay = ReceptionMeter::MinDelay;
    if (m_pipeline->start(description(!srtpKey.isEmpty()), [this, &srtpKey] {
            // Packets are stamped as they arrive, by a clock that runs from
            // the start: the output's own runs only once it plays.
            m_pipeline->useSystemClock();
            m_pipeline->keepInLine(OutputName);
            m_pipeline->keyDecrypter(DecrypterName, srtpKey);
        })) {
        applyDelay();
        m_adapt->start();
        m_srtpKey = srtpKey;
        m_microphone->stop();
        followMicrophone();
        return;
    }
    dropReceiver();
    tell(run, failure(m_pipeline->failedElement(), m_pipeline->errorString()), true);
}

// The microphone is open while the operator transmits and a way to the
// relay is found, and only then; its packets go the way the relay's come.
void RemoteAudio::followMicrophone()
{
    if (!m_transmitting || !m_receiver || !m_pipeline->isRunning()) {
        m_microphone->stop();
        return;
    }
    if (m_microphone->isRunning())
        return;
    const bool started = m_microphone->start(microphoneDescription(), [this] {
        GstElement *microphone = m_microphone->element(MicrophoneName);
        GstStructure *properties
            = gst_structure_new("properties", "media.name", G_TYPE_STRING, MicrophoneStreamName, nullptr);
        g_object_set(microphone, "stream-properties", properties, nullptr);
        gst_structure_free(properties);
        gst_object_unref(microphone);
        m_microphone->takeFrom(MicrophonePacketsName, MicrophoneBacklog, [this](const QByteArray &packet) {
            if (m_receiver)
                m_receiver->send(packet);
        });
    });
    if (!started)
        emit failed(microphoneFailure(m_microphone->errorString()));
}

QString RemoteAudio::microphoneDescription() const
{
    const QString sealer
        = m_srtpKey.isEmpty() ? QString() : QStringLiteral(" ! ") + SrtpSealer::element(m_srtpKey);
    return QStringLiteral(
               "pulsesrc name=%1 client-name=%2 latency-time=%3 ! %4%5 ! appsink name=%6 sync=false "
               "emit-signals=false")
        .arg(QLatin1StringView(MicrophoneName),
             MediaPipeline::quoted(QLatin1StringView(MicrophoneStreamName)))
        .arg(MicrophonePeriod)
        .arg(QLatin1StringView(AudioStreamFormat::Encoder), sealer, QLatin1StringView(MicrophonePacketsName));
}

// Changed at once to what the path needs, once that is a step away.
void RemoteAudio::adaptDelay()
{
    if (!m_receiver)
        return;
    const int wanted = m_receiver->meter().playoutDelay();
    if (std::abs(wanted - m_delay) < AdaptStep)
        return;
    m_delay = wanted;
    applyDelay();
}

// The jitter buffer waits that long for a missing packet, and the output
// plays each packet that long after it came, with the time the decoder
// holds a packet (it looks at the next for the correction data of one that
// is lost) and what the output holds ahead. The pipeline's own reckoning takes the
// longest packet Opus allows for what the decoder holds, six times ours.
void RemoteAudio::applyDelay()
{
    if (GstElement *jitter = m_pipeline->element(JitterName)) {
        g_object_set(jitter, "latency", guint(m_delay), nullptr);
        gst_object_unref(jitter);
    }
    m_pipeline->setLatency(std::chrono::milliseconds(m_delay + AudioStreamFormat::FrameMilliseconds)
                           + std::chrono::microseconds(OutputBuffer - OutputPeriod));
}

// The output plays each packet at its time (sync=true), so what comes late
// is dropped there and no backlog can build up, and a delay that changed
// is taken up there (MediaPipeline::keepInLine); the jitter buffer
// puts packets back in order and tells the decoder of those lost, so that
// it fills their gap. The title tag names the stream in the desktop's mixer.
QString RemoteAudio::description(bool sealed) const
{
    const QString name = MediaPipeline::quoted(QLatin1StringView(StreamName));
    const QString receiver = sealed
        ? QStringLiteral("appsrc name=%1 is-live=true do-timestamp=true format=time min-latency=0 caps=%2 ! "
                         "srtpdec name=%3")
              .arg(QLatin1StringView(ReceiverName), QLatin1StringView(AudioStreamFormat::SrtpCaps),
                   QLatin1StringView(DecrypterName))
        : QStringLiteral("appsrc name=%1 is-live=true do-timestamp=true format=time min-latency=0 caps=%2")
              .arg(QLatin1StringView(ReceiverName), QLatin1StringView(AudioStreamFormat::RtpCaps));
    return QStringLiteral(
               "%1 ! rtpjitterbuffer name=%2 latency=%3 do-lost=true "
               "! %9 ! taginject tags=%4 ! pulsesink name=%5 client-name=%6 sync=true buffer-time=%7 "
               "latency-time=%8")
        .arg(receiver, QLatin1StringView(JitterName))
        .arg(ReceptionMeter::MinDelay)
        .arg(MediaPipeline::quoted(QStringLiteral("title=") + name), QLatin1StringView(OutputName), name)
        .arg(OutputBuffer)
        .arg(OutputPeriod)
        .arg(QLatin1StringView(AudioStreamFormat::Decoder));
}

void RemoteAudio::tell(quint64 run, const QString &why, bool stopping)
{
    QMetaObject::invokeMethod(
        this, [this, run, why, stopping] { take(run, why, stopping); }, Qt::QueuedConnection);
}

// On the caller's thread: told only if the run is still the one playing.
void RemoteAudio::take(quint64 run, const QString &why, bool stopping)
{
    if (run != m_run)
        return;
    if (stopping)
        stop();
    emit failed(why);
}

QString RemoteAudio::failure(const QString &element, const QString &why) const
{
    if (element == QLatin1StringView(OutputName))
        return QStringLiteral("No audio output for the radio's audio: %1").arg(why);
    return QStringLiteral("The radio's audio cannot play: %1").arg(why);
}
