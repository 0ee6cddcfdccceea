#include "transmit_audio.h"

#include "audio_device.h"
#include "audio_stream_format.h"

namespace {
constexpr char SpeechName[] = "speech";
constexpr char DecrypterName[] = "decrypter";
constexpr char ClientName[] = "Q9 relay transmit audio";
} // namespace

TransmitAudio::TransmitAudio(const QString &sinkName, QObject *parent)
    : QObject(parent)
    , m_sinkName(sinkName)
{
    // An output that failed is not tried again until the next transmission.
    connect(&m_pipeline, &MediaPipeline::failed, this, [this](const QString &, const QString &why) {
        m_pipeline.stop();
        m_refused = true;
        emit message(QStringLiteral("transmit audio into %1 failed: %2").arg(m_sinkName, why));
    });
}

void TransmitAudio::play(const QByteArray &packet, const QByteArray &srtpKey)
{
    if ((!m_pipeline.isRunning() || srtpKey != m_srtpKey) && !open(srtpKey))
        return;
    m_pipeline.push(SpeechName, packet);
}

void TransmitAudio::stop()
{
    m_pipeline.stop();
    m_refused = false;
}

// An output that cannot open is told of once a transmission.
bool TransmitAudio::open(const QByteArray &srtpKey)
{
    if (m_refused)
        return false;
    m_pipeline.stop();
    m_srtpKey = srtpKey;
    if (m_pipeline.start(description(!srtpKey.isEmpty()), [this] {
            // Packets are stamped as they arrive, by a clock that runs from
            // the start: the output's own runs only once it plays.
            m_pipeline.useSystemClock();
            m_pipeline.keyDecrypter(DecrypterName, m_srtpKey);
        })) {
        m_pipeline.setLatency(Playout - std::chrono::milliseconds(AudioStreamFormat::FrameMilliseconds));
        return true;
    }
    m_refused = true;
    emit message(
        QStringLiteral("transmit audio cannot play into %1: %2").arg(m_sinkName, m_pipeline.errorString()));
    return false;
}

QString TransmitAudio::description(bool sealed) const
{
    const QString speech
        = QStringLiteral("appsrc name=%1 is-live=true do-timestamp=true format=time min-latency=0 caps=%2")
              .arg(QLatin1StringView(SpeechName),
                   QLatin1StringView(sealed ? AudioStreamFormat::SrtpCaps : AudioStreamFormat::RtpCaps));
    const QString decrypter
        = sealed ? QStringLiteral(" ! srtpdec name=%1").arg(QLatin1StringView(DecrypterName)) : QString();
    // The names go in last, so that none of their text is taken for a
    // place to fill.
    return QStringLiteral("%4%5 ! rtpjitterbuffer latency=%1 do-lost=true ! %6 ! %7 sync=true buffer-time=%2 "
                          "latency-time=%3")
        .arg(Delay)
        .arg(std::chrono::microseconds(OutputBuffer).count())
        .arg(std::chrono::microseconds(OutputPeriod).count())
        .arg(speech, decrypter, QLatin1StringView(AudioStreamFormat::Decoder), output());
}

QString TransmitAudio::output() const
{
    return AudioDevice::element(
        m_sinkName, AudioDevice::Way::Playback,
        QStringLiteral("client-name=%1").arg(MediaPipeline::quoted(QLatin1StringView(ClientName))));
}
