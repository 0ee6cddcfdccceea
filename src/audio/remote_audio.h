#pragma once

#include "audio/audio_feeds.h"
#include "media_pipeline.h"

#include <QObject>
#include <QThread>
#include <QTimer>

#include <atomic>

class AudioReceiver;

// Plays the relay's audio (see AudioStreamFormat) on the desktop's default
// output, as a stream named "Q9 Remote" whose volume the desktop's mixer
// sets. The packets come by UDP or TCP (AudioReceiver), and a stream that
// stops comes back by itself for as long as the player plays.
//
// A jitter buffer puts them back in order and plays them out at a steady
// delay: the least that would have played the last few seconds' packets in
// time (ReceptionMeter), so small on a clean path, grown at once on a rough
// one and shrunk when it calms. A packet later than that is lost, and Opus
// fills its place, from the next packet's correction data where it has it;
// no backlog can build up.
//
// While the operator transmits, it also carries the desktop's default input
// (a stream named "Q9 Remote microphone") to the relay, encoded as the
// relay's audio is, the same way the relay's audio comes; no microphone is
// open at any other time.
//
// The pipelines run on a thread of their own, so neither the network nor
// stopping ever holds the caller's thread.
class RemoteAudio : public QObject
{
    Q_OBJECT

public:
    explicit RemoteAudio(QObject *parent = nullptr);
    ~RemoteAudio() override;

    // Starts playing what the relay at `route` sends, and returns at once.
    // What keeps the audio from playing at all (no audio from the relay on
    // any way, no output, a missing plugin) is told once by failed(); a
    // missing output or plugin also stops the player.
    void play(const AudioRoute &route);
    // Stops, a start still under way included: nothing is told after this.
    void stop();
    // From play() until stop() or a failure that stops it.
    bool isPlaying() const { return m_playing; }

public slots:
    // The operator talks, or has stopped: the microphone is open, and its
    // audio goes to the relay, only in between.
    void setTransmitting(bool transmitting);

signals:
    // What is missing or went wrong, in the operator's words.
    void failed(const QString &why);

private:
    void startRun(quint64 run, const AudioRoute &route);
    void endRun();
    void dropReceiver();
    void startPipeline(quint64 run, const QByteArray &srtpKey);
    void followMicrophone();
    QString microphoneDescription() const;
    void adaptDelay();
    void applyDelay();
    QString description(bool sealed) const;
    void tell(quint64 run, const QString &why, bool stopping);
    void take(quint64 run, const QString &why, bool stopping);
    QString failure(const QString &element, const QString &why) const;

    QThread m_thread;
    // These live on m_thread, and go with it.
    MediaPipeline *m_pipeline;
    MediaPipeline *m_microphone;
    AudioReceiver *m_receiver = nullptr;
    // The way's key, that the microphone's packets are sealed with too.
    QByteArray m_srtpKey;
    bool m_transmitting = false;
    QTimer *m_adapt;
    int m_delay = 0;
    // Counts the starts and stops asked for: a start that is no longer the
    // latest is not begun, and its outcome not taken.
    std::atomic<quint64> m_run = 0;
    bool m_playing = false;
    QString m_source;
};
