#pragma once

#include "media_pipeline.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

typedef struct _GstAppSrc GstAppSrc;

#include <chrono>
#include <functional>
#include <span>

// The receiver's audio as the relay sends it (see AudioStreamFormat):
// captured from an ALSA device ("alsa:hw:CARD=CODEC,DEV=0") or a
// PipeWire/PulseAudio source, or made by a generator, and encoded by
// GStreamer. Each RTP packet comes out of packet() on the Qt thread, so a
// listener can join between any two.
//
// A source that is missing, busy or fails is tried again every RetryInterval
// for as long as the stream is kept, as a sound card that was unplugged may
// come back; the radio's control never waits on it.
class AudioStream : public QObject
{
    Q_OBJECT

public:
    // Fills the next samples (mono, 48 kHz); called on GStreamer's thread.
    using Generator = std::function<void(std::span<qint16> samples)>;

    // What can be captured: the name to pass as a source, and what it is.
    struct Source
    {
        QString name;
        QString description;
    };

    static constexpr std::chrono::seconds RetryInterval{5};

    // From a source by name (see AudioDevice).
    explicit AudioStream(const QString &sourceName, QObject *parent = nullptr);
    // From a generator, paced by the clock as a sound card would be.
    explicit AudioStream(Generator generator, QObject *parent = nullptr);
    ~AudioStream() override;

    // The sources GStreamer's device monitor finds on this computer; false,
    // with problem set, when GStreamer cannot look.
    static bool listSources(QList<Source> *sources, QString *problem);

    // Starts capturing and encoding, and keeps trying until it flows.
    void start();
    bool isFlowing() const { return m_flowing; }
    // The share of packets the worst-placed listener loses, in percent: the
    // encoder puts that much more into correcting it.
    void setExpectedLoss(int percent);
    // Where the audio comes from, for the log.
    QString origin() const;

signals:
    void packet(const QByteArray &rtp);
    // The first packet since the audio started or came back.
    void flowing();
    // No audio now, and why: told when flowing audio stops, and when a try
    // fails for another reason than the one before.
    void stopped(const QString &why);

private:
    static constexpr std::chrono::seconds FirstPacketSeconds{5};
    // A second of audio on its way to the Qt thread.
    static constexpr int MaxHandedOn = 50;

    QString description() const;
    QString capture() const;
    void attempt();
    void fail(const QString &why);
    void arrived(const QByteArray &rtp);
    void applyExpectedLoss();
    void hookGenerator();
    void makeFrame(GstAppSrc *source);
    void hookPackets();

    QString m_sourceName;
    Generator m_generator;
    MediaPipeline m_pipeline;
    QTimer m_retry;
    QTimer m_firstPacket;
    bool m_flowing = false;
    QString m_lastReason;
    quint64 m_samplesMade = 0;
    int m_expectedLoss = 0;
};
