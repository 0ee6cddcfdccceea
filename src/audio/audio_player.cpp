#include "audio/audio_player.h"

#include "audio_stream_format.h"

namespace {
constexpr char StreamName[] = "Q9 Remote";
constexpr char ReceiverName[] = "receiver";
constexpr char OutputName[] = "output";
// The output's own buffer, in microseconds: small, as the jitter buffer
// already evens out the network.
constexpr int OutputBuffer = 40000;
constexpr int OutputPeriod = 10000;
} // namespace

AudioPlayer::AudioPlayer(QObject *parent)
    : QObject(parent)
    , m_pipeline(new MediaPipeline)
{
    m_thread.setObjectName(QStringLiteral("audio player"));
    m_pipeline->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_pipeline, &QObject::deleteLater);
    connect(m_pipeline, &MediaPipeline::failed, this, &AudioPlayer::failWhilePlaying);
    connect(m_pipeline, &MediaPipeline::ended, this, [this] { failWhilePlaying(QString(), QString()); });
    m_thread.start();
}

AudioPlayer::~AudioPlayer()
{
    stop();
    m_thread.quit();
    m_thread.wait();
}

void AudioPlayer::play(const QString &host, quint16 port)
{
    m_source = QStringLiteral("%1:%2").arg(host).arg(port);
    m_state = State::Starting;
    const quint64 run = ++m_run;
    QMetaObject::invokeMethod(
        m_pipeline, [this, run, wanted = description(host, port)] { startRun(run, wanted); },
        Qt::QueuedConnection);
}

void AudioPlayer::stop()
{
    if (m_state == State::Stopped)
        return;
    m_state = State::Stopped;
    ++m_run;
    QMetaObject::invokeMethod(m_pipeline, &MediaPipeline::stop, Qt::QueuedConnection);
}

// On the player's thread, where starting waits for the connection.
void AudioPlayer::startRun(quint64 run, const QString &description)
{
    if (run != m_run)
        return;
    const bool started = m_pipeline->start(description);
    const QString element = m_pipeline->failedElement();
    const QString why = m_pipeline->errorString();
    QMetaObject::invokeMethod(
        this, [this, run, started, element, why] { takeStart(run, started, element, why); },
        Qt::QueuedConnection);
}

void AudioPlayer::takeStart(quint64 run, bool started, const QString &element, const QString &why)
{
    if (run != m_run)
        return;
    m_state = started ? State::Playing : State::Stopped;
    if (!started)
        emit failed(failure(element, why));
}

// The stream reaches the output as it comes (sync=false): the jitter buffer
// puts packets back in order, tells the decoder of those lost so it fills
// their gap, and drops what would make it hold more than its latency, so a
// backlog can never build up behind the output. The title tag names the
// stream in the desktop's mixer.
QString AudioPlayer::description(const QString &host, quint16 port) const
{
    const QString name = MediaPipeline::quoted(QLatin1StringView(StreamName));
    return QStringLiteral("tcpclientsrc name=%1 host=%2 port=%3 timeout=%4 do-timestamp=true ! %5 "
                          "! rtpstreamdepay ! rtpjitterbuffer latency=%6 drop-on-latency=true do-lost=true "
                          "! rtpopusdepay ! opusdec plc=true ! audioconvert ! audioresample "
                          "! taginject tags=%7 ! pulsesink name=%8 client-name=%9 sync=false buffer-time=%10 "
                          "latency-time=%11")
        .arg(QLatin1StringView(ReceiverName), MediaPipeline::quoted(host))
        .arg(port)
        .arg(SilenceSeconds)
        .arg(QLatin1StringView(AudioStreamFormat::StreamCaps))
        .arg(JitterMilliseconds)
        .arg(MediaPipeline::quoted(QStringLiteral("title=") + name), QLatin1StringView(OutputName), name)
        .arg(OutputBuffer)
        .arg(OutputPeriod);
}

// Once playing, only the output can fail on its own; anything else is the
// stream lost. The player's thread reports in order, so what comes before a
// start is taken is from a run since stopped or replaced.
void AudioPlayer::failWhilePlaying(const QString &element, const QString &why)
{
    if (m_state != State::Playing)
        return;
    stop();
    if (element == QLatin1StringView(OutputName))
        emit failed(failure(element, why));
    else
        emit lost(QStringLiteral("The radio's audio from the relay at %1 stopped.").arg(m_source));
}

QString AudioPlayer::failure(const QString &element, const QString &why) const
{
    if (element == QLatin1StringView(OutputName))
        return QStringLiteral("No audio output for the radio's audio: %1").arg(why);
    if (element == QLatin1StringView(ReceiverName))
        return QStringLiteral("No audio from the relay at %1: %2").arg(m_source, why);
    return QStringLiteral("The radio's audio cannot play: %1").arg(why);
}
