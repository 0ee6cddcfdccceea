#include "sound_server.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <tuple>

namespace {
constexpr int Timeout = 20000;
const QString Sink = QStringLiteral("q9test");
const QString MicrophoneSink = QStringLiteral("q9microphone");
const QString Microphone = MicrophoneSink + QStringLiteral(".monitor");
} // namespace

SoundServer::SoundServer(const QStringList &otherSinks)
{
    const QString socket = m_dir.filePath(QStringLiteral("native"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"HOME", "XDG_RUNTIME_DIR", "PULSE_RUNTIME_PATH", "XDG_CONFIG_HOME"})
        environment.insert(QString::fromLatin1(name), m_dir.path());
    m_server.setProcessEnvironment(environment);
    m_server.setStandardErrorFile(m_dir.filePath(QStringLiteral("log")));
    QStringList arguments = QStringLiteral("--daemonize=no --exit-idle-time=-1 -n --disable-shm=yes "
                                           "--use-pid-file=no --realtime=no --high-priority=no")
                                .split(u' ');
    for (const QString &sink : QStringList{Sink} + otherSinks)
        arguments += QStringLiteral("--load=module-null-sink sink_name=%1 rate=%2 channels=1")
                         .arg(sink)
                         .arg(SampleRate);
    // The microphone is a tone played into a sink of its own, heard from
    // that sink's monitor: like a sound card, it delivers at the pace its
    // recorders ask for. A sine source would hand over two seconds at once,
    // more than a recorder holds.
    arguments += QStringLiteral("--load=module-null-sink sink_name=%1 rate=%2 channels=1")
                     .arg(MicrophoneSink)
                     .arg(SampleRate);
    arguments += QStringLiteral("--load=module-sine sink=%1 rate=%2 frequency=%3")
                     .arg(MicrophoneSink)
                     .arg(SampleRate)
                     .arg(MicrophonePitch);
    arguments += QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 socket=%1").arg(socket);
    m_server.start(QStringLiteral("pulseaudio"), arguments);
    qputenv("PULSE_SERVER", QStringLiteral("unix:%1").arg(socket).toLocal8Bit());
    m_running = QTest::qWaitFor(
                    [this] {
                        return !pactl({QStringLiteral("info")}).isEmpty()
                            || m_server.state() == QProcess::NotRunning;
                    },
                    Timeout)
        && m_server.state() == QProcess::Running
        && pactl({QStringLiteral("set-default-source"), Microphone}).isEmpty()
        && pactl({QStringLiteral("get-default-source")}).trimmed() == Microphone;
    QObject::connect(&m_recorder, &QProcess::readyReadStandardOutput, &m_recorder,
                     [this] { m_recorded += m_recorder.readAllStandardOutput(); });
}

SoundServer::~SoundServer()
{
    m_recorder.kill();
    m_recorder.waitForFinished();
    m_server.terminate();
    if (!m_server.waitForFinished(Timeout))
        m_server.kill();
    qunsetenv("PULSE_SERVER");
}

QString SoundServer::pactl(const QStringList &arguments) const
{
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(Timeout) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The microphone's own tone is left out.
QStringList SoundServer::streams() const
{
    QStringList names = streamNames(QStringLiteral("sink-inputs"));
    names.removeAll(QStringLiteral("%1 Hz Sine").arg(MicrophonePitch));
    return names;
}

// Ours only: the recorder's own stream is left out.
QStringList SoundServer::recordings() const
{
    QStringList names = streamNames(QStringLiteral("source-outputs"));
    names.removeAll(QStringLiteral("parec"));
    return names;
}

QStringList SoundServer::streamNames(const QString &kind) const
{
    QStringList names;
    for (const QString &line : pactl({QStringLiteral("list"), kind}).split(u'\n')) {
        if (line.contains(u"media.name = ") || line.contains(u"application.name = "))
            names.append(line.section(u'"', 1, 1));
    }
    return names;
}

QList<qint16> SoundServer::record(int count, const QString &sink)
{
    if (m_recording != sink) {
        m_recorder.kill();
        m_recorder.waitForFinished();
    }
    if (m_recorder.state() == QProcess::NotRunning) {
        m_recording = sink;
        m_recorder.start(QStringLiteral("parec"),
                         {QStringLiteral("--device=%1.monitor").arg(sink), QStringLiteral("--raw"),
                          QStringLiteral("--format=s16le"), QStringLiteral("--rate=%1").arg(SampleRate),
                          QStringLiteral("--channels=1"), QStringLiteral("--latency-msec=20")});
        m_recorder.waitForStarted(Timeout);
    }
    // Only what plays from now on counts.
    m_recorded.clear();
    const qsizetype bytes = count * qsizetype(sizeof(qint16));
    // Fewer samples than asked for tell their own tale.
    std::ignore = QTest::qWaitFor(
        [&] { return m_recorded.size() >= bytes || m_recorder.state() == QProcess::NotRunning; }, Timeout);
    QList<qint16> samples(std::min(bytes, m_recorded.size()) / qsizetype(sizeof(qint16)));
    std::memcpy(samples.data(), m_recorded.constData(), size_t(samples.size()) * sizeof(qint16));
    return samples;
}

int pitchOf(std::span<const qint16> samples)
{
    // One Goertzel filter every 5 Hz: plenty for tones 100 Hz apart.
    double strongest = 0;
    double total = 0;
    int pitch = 0;
    int bins = 0;
    for (int hz = 100; hz <= 3000; hz += 5, ++bins) {
        const double coefficient = 2 * std::cos(2 * std::numbers::pi * hz / SoundServer::SampleRate);
        double previous = 0;
        double beforeThat = 0;
        for (const qint16 sample : samples) {
            const double next = sample + coefficient * previous - beforeThat;
            beforeThat = previous;
            previous = next;
        }
        const double power
            = previous * previous + beforeThat * beforeThat - coefficient * previous * beforeThat;
        total += power;
        if (power > strongest) {
            strongest = power;
            pitch = hz;
        }
    }
    if (strongest < 20 * total / bins)
        return 0;
    return int(std::lround(pitch / 10.0)) * 10;
}

double levelOf(std::span<const qint16> samples)
{
    double sum = 0;
    for (const qint16 sample : samples)
        sum += double(sample) * sample;
    return samples.empty() ? 0 : std::sqrt(sum / double(samples.size())) / 32768;
}
