#include "relay_audio.h"

#include "session.h"
#include "transmitter.h"

RelayAudio::RelayAudio(Transmitter &transmitter, QObject *parent)
    : QObject(parent)
    , m_transmitter(transmitter)
    , m_listeners([this](const QByteArray &report) { return m_udp.vouchFor(report); })
{
    connect(&m_transmitter, &Transmitter::released, this, [this] {
        if (m_transmitAudio)
            m_transmitAudio->stop();
    });
    connect(&m_udp, &UdpAudio::spoken, this, &RelayAudio::hearSpeech);
    connect(&m_listeners, &AudioListeners::spoken, this, &RelayAudio::hearSpeech);
    connect(&m_udp, &UdpAudio::message, this, &RelayAudio::message);
    connect(&m_listeners, &AudioListeners::message, this, &RelayAudio::message);
}

bool RelayAudio::serve(std::unique_ptr<AudioStream> stream, const QHostAddress &address, quint16 port,
                       QString *udpProblem)
{
    m_stream = std::move(stream);
    connect(m_stream.get(), &AudioStream::packet, &m_listeners, &AudioListeners::send);
    connect(m_stream.get(), &AudioStream::packet, &m_udp, &UdpAudio::send);
    connect(&m_udp, &UdpAudio::expectedLossChanged, m_stream.get(), &AudioStream::setExpectedLoss);
    connect(m_stream.get(), &AudioStream::flowing, this, [this] {
        emit message(QStringLiteral("audio from %1").arg(m_stream->origin()));
        emit flowingChanged();
    });
    // The radio stays served without its audio, and the panels are told
    // when it comes back.
    connect(m_stream.get(), &AudioStream::stopped, this, [this](const QString &why) {
        emit message(QStringLiteral("no audio from %1: %2; trying again every %3 seconds")
                         .arg(m_stream->origin(), why)
                         .arg(AudioStream::RetryInterval.count()));
        m_listeners.closeAll(QStringLiteral("closed: the audio stopped"));
        emit flowingChanged();
    });
    // Once the server is told to be up, so its failures come after that.
    QMetaObject::invokeMethod(m_stream.get(), &AudioStream::start, Qt::QueuedConnection);
    return m_udp.listen(address, port, udpProblem);
}

void RelayAudio::playInto(const QString &sink)
{
    m_transmitAudio = std::make_unique<TransmitAudio>(sink);
    connect(m_transmitAudio.get(), &TransmitAudio::message, this, &RelayAudio::message);
}

// A secure link's pass also keys its audio.
const AudioPass &RelayAudio::passFor(const Session &session)
{
    auto pass = m_passes.find(&session);
    if (pass == m_passes.end())
        pass
            = m_passes.emplace(&session, m_udp.grant(session.name(), !session.fingerprint().isEmpty())).first;
    return pass->second;
}

void RelayAudio::forget(const Session &session)
{
    if (const auto pass = m_passes.find(&session); pass != m_passes.end()) {
        m_udp.revoke(pass->second);
        m_passes.erase(pass);
    }
}

void RelayAudio::addListener(Connection *connection)
{
    m_listeners.add(connection);
}

void RelayAudio::dropListenersIf(const std::function<bool(const Connection &)> &condition, const QString &why)
{
    m_listeners.dropIf(condition, why);
}

// Only the audio of the panel that holds the transmitter is played, and
// only while it holds it; while it comes, the hold is renewed.
void RelayAudio::hearSpeech(const QByteArray &id, const QByteArray &packet, const QByteArray &srtpKey)
{
    const auto pass = m_passes.find(m_transmitter.holder());
    if (pass == m_passes.end() || pass->second.id() != id)
        return;
    m_transmitter.heardAudio(TransmitAudio::Playout);
    if (m_transmitAudio)
        m_transmitAudio->play(packet, srtpKey);
}
