#pragma once

#include "media_pipeline.h"

#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QThread>

#include <atomic>

class TlsAudioFeed;

// Plays the relay's audio stream (see AudioStreamFormat) on the desktop's
// default output, as a stream named "Q9 Remote" whose volume the desktop's
// mixer sets. A jitter buffer of JitterMilliseconds evens out the network:
// audio later than that is dropped, never queued, so the delay stays
// bounded and a late burst costs a dropout rather than lag.
//
// The pipeline runs on a thread of the player's own: connecting to a port
// that drops what comes takes up to SilenceSeconds, and neither that nor
// stopping ever holds the caller's thread. From a secure relay the stream
// comes over TLS (TlsAudioFeed, on the same thread) into the pipeline's
// source; from a plain one the source connects itself.
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
    // playing is told by lost(). Either way the player stops. With `tls`
    // (the panel's key) the stream is taken over TLS, and only from a relay
    // that presents `relayKey`.
    void play(const QString &host, quint16 port, const QSslConfiguration &tls = {},
              const QString &relayKey = {});
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
    struct Source
    {
        QString host;
        quint16 port = 0;
        QSslConfiguration tls;
        QString relayKey;
        bool secure() const { return !tls.isNull(); }
    };

    QString description(const Source &source) const;
    QString failure(const QString &element, const QString &why) const;
    void startRun(quint64 run, const Source &source);
    void openFeed(quint64 run, const Source &source);
    void startPipeline(quint64 run, const Source &source);
    void endRun();
    void dropFeed();
    void report(quint64 run, bool started, const QString &element, const QString &why);
    void takeStart(quint64 run, bool started, const QString &element, const QString &why);
    void failWhilePlaying(const QString &element, const QString &why);

    QThread m_thread;
    // Lives on m_thread, and goes with it.
    MediaPipeline *m_pipeline;
    // A secure run's feed, a child of m_pipeline: touched on m_thread only.
    TlsAudioFeed *m_feed = nullptr;
    // Counts the starts and stops asked for: a start that is no longer the
    // latest is not begun, and its outcome not taken.
    std::atomic<quint64> m_run = 0;
    State m_state = State::Stopped;
    QString m_source;
};
