#pragma once

#include "media_pipeline.h"

#include <QObject>
#include <QString>

// Plays the relay's audio stream (see AudioStreamFormat) on the desktop's
// default output, as a stream named "Q9 Remote" whose volume the desktop's
// mixer sets. A jitter buffer of JitterMilliseconds evens out the network:
// audio later than that is dropped, never queued, so the delay stays
// bounded and a late burst costs a dropout rather than lag.
class AudioPlayer : public QObject
{
    Q_OBJECT

public:
    static constexpr int JitterMilliseconds = 60;
    // A stream silent this long is taken for lost.
    static constexpr int SilenceSeconds = 5;

    explicit AudioPlayer(QObject *parent = nullptr);

    // Starts playing from host:port. A failure to start, or of the output
    // later, is told once by failed(); the stream lost once playing is told
    // by lost(). Either way the player stops.
    void play(const QString &host, quint16 port);
    void stop();
    bool isPlaying() const { return m_pipeline.isRunning(); }

signals:
    // What is missing or went wrong, in the operator's words.
    void failed(const QString &why);
    void lost(const QString &why);

private:
    QString description(const QString &host, quint16 port) const;
    QString failure(const QString &element, const QString &why) const;
    void failWhilePlaying(const QString &element, const QString &why);

    MediaPipeline m_pipeline;
    QString m_source;
};
