#pragma once

#include "media_pipeline.h"

#include <QByteArray>
#include <QObject>
#include <QString>

typedef struct _GstAppSink GstAppSink;
typedef struct _GstAppSrc GstAppSrc;

#include <chrono>
#include <functional>
#include <span>

// The receiver's audio as the relay sends it (see AudioStreamFormat):
// captured from a PipeWire/PulseAudio source, or made by a generator, and
// encoded and framed by GStreamer. Each framed packet comes out of packet()
// on the Qt thread, whole, so a listener can join between any two.
class AudioStream : public QObject
{
    Q_OBJECT

public:
    // Fills the next samples (mono, 48 kHz); called on GStreamer's thread.
    using Generator = std::function<void(std::span<qint16> samples)>;

    // From a sound server's source by name; "default" is the server's own
    // default source.
    explicit AudioStream(const QString &sourceName, QObject *parent = nullptr);
    // From a generator, paced by the clock as a sound card would be.
    explicit AudioStream(Generator generator, QObject *parent = nullptr);
    ~AudioStream() override;

    // Starts capturing and encoding; false, with errorString() naming what
    // is missing, when it cannot.
    bool start();
    QString errorString() const { return m_errorString; }
    // Where the audio comes from, for the log.
    QString origin() const;

signals:
    void packet(const QByteArray &framed);
    // The source or the encoder failed (a sound card unplugged): the stream
    // is over.
    void failed(const QString &why);

private:
    static constexpr std::chrono::seconds FirstPacketSeconds{5};

    QString description() const;
    bool firstPacket(QString *problem);
    void hookGenerator();
    void makeFrame(GstAppSrc *source);
    void hookPackets();
    void takePacket(GstAppSink *sink);

    QString m_sourceName;
    Generator m_generator;
    MediaPipeline m_pipeline;
    quint64 m_samplesMade = 0;
    QString m_errorString;
};
