#pragma once

#include "audio_stream_format.h"
#include "media_pipeline.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>

// The operator's audio into the radio's audio input while a panel
// transmits: its packets (see AudioStreamFormat), SRTP under the panel's
// key where they came sealed, put back in order by a jitter buffer and
// played by GStreamer into an ALSA device ("alsa:DEVICE") or a
// PipeWire/PulseAudio sink ("default" being the sound server's own). The
// output is open from the first packet of a transmission to its end, and
// at no other time.
class TransmitAudio : public QObject
{
    Q_OBJECT

public:
    // What the jitter buffer holds for a packet that is late or missing.
    static constexpr int Delay = 40;
    // The output's own buffer and period.
    static constexpr std::chrono::milliseconds OutputBuffer{20};
    static constexpr std::chrono::milliseconds OutputPeriod{5};
    // From a packet's arrival until the radio has heard it to its end.
    static constexpr std::chrono::milliseconds Playout
        = std::chrono::milliseconds(Delay + 2 * AudioStreamFormat::FrameMilliseconds) + OutputBuffer
        - OutputPeriod;

    explicit TransmitAudio(const QString &sinkName, QObject *parent = nullptr);

    QString sinkName() const { return m_sinkName; }
    // The next packet of the transmission, plain RTP or SRTP under
    // `srtpKey`; the output opens anew for a transmission keyed otherwise.
    void play(const QByteArray &packet, const QByteArray &srtpKey);
    // The transmission has ended.
    void stop();

signals:
    void message(const QString &text);

private:
    bool open(const QByteArray &srtpKey);
    QString description(bool sealed) const;
    QString output() const;

    QString m_sinkName;
    MediaPipeline m_pipeline;
    QByteArray m_srtpKey;
    bool m_refused = false;
};
