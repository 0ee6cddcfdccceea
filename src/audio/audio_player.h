#pragma once

#include "media_pipeline.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>

// Plays the relay's audio stream (see AudioStreamFormat) on the desktop's
// default output, as a stream named "Q9 Remote" whose volume the desktop's
// mixer sets. A jitter buffer of JitterMilliseconds evens out the network:
// audio later than that is dropped, never queued, so the delay stays
// bounded and a late burst costs a dropout rather than lag.
//
// The pipeline runs on a thread of the player's own: connecting to a port
// that drops what comes takes up to SilenceSeconds, and neither that nor
// stopping ever holds the caller's thread.
class AudioPlayer : public QObject
{
    Q_OBJECT

public:
    static constexpr int JitterMilliseconds = 60;
    // A stream silent this long is taken for lost; a connect unanswered this
    // long fails.
    static constexpr int SilenceSeconds = 5;

    explicit AudioPlayer(QObject *parent = nullptr);
    // Waits for a start still connecting, if there is one.
    ~AudioPlayer() override;

    // Starts playing from host:port and returns at once. A failure to start,
    // or of the output later, is told once by failed(); the stream lost once
    // playing is told by lost(). Either way the player stops.
    void play(const QString &host, quint16 port);
    // Stops, a start still under way included: nothing is told after this.
    void stop();
    // From play() until stop() or a failure, while it is starting too.
    bool isPlaying() const { return m_state != State::Stopped; }

signals:
    // What is missing or went wrong, in the operator's words.
    void failed(const QString &why);
    void lost(const QString &why);

private:
    enum class State { Stopped, Starting, Playing };

    QString description(const QString &host, quint16 port) const;
    QString failure(const QString &element, const QString &why) const;
    void startRun(quint64 run, const QString &description);
    void takeStart(quint64 run, bool started, const QString &element, const QString &why);
    void failWhilePlaying(const QString &element, const QString &why);

    QThread m_thread;
    // Lives on m_thread, and goes with it.
    MediaPipeline *m_pipeline;
    // Counts the starts and stops asked for: a start that is no longer the
    // latest is not begun, and its outcome not taken.
    std::atomic<quint64> m_run = 0;
    State m_state = State::Stopped;
    QString m_source;
};
