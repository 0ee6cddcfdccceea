#pragma once

#include <QList>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <span>

// A PulseAudio server of the test's own, in a folder of its own, whose
// default output is the null sink "q9test": this process's players reach it
// (and nothing else) while it runs, and what they play is recorded from the
// sink's monitor. Other null sinks may be asked for; the monitor of each
// ("NAME.monitor") is a source, and what each plays can be recorded too. Its
// default source, the microphone, is a tone.
class SoundServer
{
public:
    static constexpr int SampleRate = 48000;

    static constexpr int MicrophonePitch = 700;

    explicit SoundServer(const QStringList &otherSinks = {});
    ~SoundServer();

    bool isRunning() const { return m_running; }
    // The name of each stream playing into the sink, and its program's.
    QStringList streams() const;
    // The same for each stream recording, from the microphone or any other
    // source.
    QStringList recordings() const;
    // The next `count` samples `sink` plays (mono, SampleRate), or fewer
    // when the recording stops.
    QList<qint16> record(int count, const QString &sink = QStringLiteral("q9test"));

private:
    QString pactl(const QStringList &arguments) const;
    QStringList streamNames(const QString &kind) const;

    QTemporaryDir m_dir;
    QProcess m_server;
    QProcess m_recorder;
    QString m_recording;
    QByteArray m_recorded;
    bool m_running = false;
};

// The strongest tone between 100 Hz and 3 kHz, to the nearest 10 Hz, or 0
// when nothing stands well above the noise.
int pitchOf(std::span<const qint16> samples);
// The loudness of the samples (root mean square, full scale 1).
double levelOf(std::span<const qint16> samples);
