#include "audio/audio_player.h"

#include "audio/tls_audio_feed.h"

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

void AudioPlayer::play(const QString &host, quint16 port, const QSslConfiguration &tls,
                       const QString &relayKey)
{
    m_source = QStringLiteral("%1:%2").arg(host).arg(port);
    m_state = State::Starting;
    const quint64 run = ++m_run;
    QMetaObject::invokeMethod(
        m_pipeline, [this, run, source = Source{host, port, tls, relayKey}] { startRun(run, source); },
        Qt::QueuedConnection);
}

void AudioPlayer::stop()
{
    if (m_state == State::Stopped)
        return;
    m_state = State::Stopped;
    ++m_run;
    QMetaObject::invokeMethod(
        m_pipeline, [this] { endRun(); }, Qt::QueuedConnection);
}

// On the player's thread, where starting waits for the connection.
void AudioPlayer::startRun(quint64 run, const Source &source)
{
    if (run != m_run)
        return;
    dropFeed();
    if (source.secure())
        openFeed(run, source);
    else
        startPipeline(run, source);
}

// The pipeline starts once the relay has shown its key, and takes what
// comes from then on; the feed's end is the stream's.
void AudioPlayer::openFeed(quint64 run, const Source &source)
{
    m_feed = new TlsAudioFeed(SilenceSeconds, m_pipeline);
    connect(m_feed, &TlsAudioFeed::opened, m_pipeline, [this, run, source] {
        if (run == m_run)
            startPipeline(run, source);
    });
    connect(m_feed, &TlsAudioFeed::failed, m_pipeline, [this, run](const QString &why) {
        dropFeed();
        report(run, false, QLatin1StringView(ReceiverName), why);
    });
    connect(m_feed, &TlsAudioFeed::received, m_pipeline,
            [this](const QByteArray &bytes) { m_pipeline->push(ReceiverName, bytes); });
    connect(m_feed, &TlsAudioFeed::ended, m_pipeline, [this] { m_pipeline->endStream(ReceiverName); });
    m_feed->open(source.host, source.port, source.tls, source.relayKey);
}

void AudioPlayer::startPipeline(quint64 run, const Source &source)
{
    const bool started = m_pipeline->start(description(source));
    if (!started)
        dropFeed();
    report(run, started, m_pipeline->failedElement(), m_pipeline->errorString());
}

void AudioPlayer::endRun()
{
    dropFeed();
    m_pipeline->stop();
}

// Let go from within its own signals too, and heard no more.
void AudioPlayer::dropFeed()
{
    if (!m_feed)
        return;
    QObject::disconnect(m_feed, nullptr, nullptr, nullptr);
    std::exchange(m_feed, nullptr)->deleteLater();
}

void AudioPlayer::report(quint64 run, bool started, const QString &element, const QString &why)
{
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
// stream in the desktop's mixer. A plain relay's stream is the source's own
// connection; a secure one's is what the feed pushes, stamped as it comes.
QString AudioPlayer::description(const Source &source) const
{
    const QString name = MediaPipeline::quoted(QLatin1StringView(StreamName));
    const QString receiver = source.secure()
        ? QStringLiteral("appsrc name=%1 is-live=true do-timestamp=true").arg(QLatin1StringView(ReceiverName))
        : QStringLiteral("tcpclientsrc name=%1 host=%2 port=%3 timeout=%4 do-timestamp=true")
              .arg(QLatin1StringView(ReceiverName), MediaPipeline::quoted(source.host))
              .arg(source.port)
              .arg(SilenceSeconds);
    return QStringLiteral("%1 ! %2 "
                          "! rtpstreamdepay ! rtpjitterbuffer latency=%3 drop-on-latency=true do-lost=true "
                          "! rtpopusdepay ! opusdec plc=true ! audioconvert ! audioresample "
                          "! taginject tags=%4 ! pulsesink name=%5 client-name=%6 sync=false buffer-time=%7 "
                          "latency-time=%8")
        .arg(receiver, QLatin1StringView(AudioStreamFormat::StreamCaps))
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
