#include "audio/audio_receiver.h"

#include <QRandomGenerator>

AudioReceiver::AudioReceiver(const AudioRoute &route, QObject *parent)
    : QObject(parent)
    , m_route(route)
{
    m_silence.setSingleShot(true);
    connect(&m_silence, &QTimer::timeout, this, &AudioReceiver::fallSilent);
    m_retry.setSingleShot(true);
    m_retry.setInterval(RetryDelay);
    connect(&m_retry, &QTimer::timeout, this, &AudioReceiver::open);
}

void AudioReceiver::open()
{
    tryWay(m_route.pass ? Way::Udp : Way::Stream);
}

// Each way begins afresh: on UDP with a reporter of its own, which gives a
// secure relay's packets a key of their own.
void AudioReceiver::tryWay(Way way)
{
    m_way = way;
    m_flowing = false;
    if (way == Way::Udp) {
        m_reporter = QRandomGenerator::system()->generate();
        m_feed = std::make_unique<UdpAudioFeed>(
            m_route, [this] { return m_meter.reception(m_reporter); }, &m_reports);
        m_silence.start(UdpTrial);
    } else {
        m_feed = std::make_unique<StreamAudioFeed>(m_route, &m_reports);
        m_silence.start(StreamSilence);
    }
    connect(m_feed.get(), &AudioFeed::packet, this, &AudioReceiver::take);
    connect(m_feed.get(), &AudioFeed::failed, this, &AudioReceiver::fail);
}

void AudioReceiver::take(const QByteArray &rtp)
{
    const auto header = AudioPackets::headerOf(rtp);
    if (!header)
        return;
    if (!std::exchange(m_flowing, true)) {
        m_everFlowed = true;
        const bool sealed = m_way == Way::Udp && m_route.isSecure();
        emit started(sealed ? m_route.pass->srtpKey(m_reporter) : QByteArray());
    }
    m_silence.start(m_way == Way::Udp ? UdpSilence : StreamSilence);
    m_meter.arrived(*header);
    emit packet(rtp);
}

void AudioReceiver::send(const QByteArray &packet)
{
    if (m_feed && m_flowing)
        m_feed->send(packet);
}

void AudioReceiver::fallSilent()
{
    if (m_way == Way::Udp && !m_flowing)
        return tryWay(Way::Stream);
    fail(QStringLiteral("nothing came within %1 seconds").arg(m_silence.interval() / 1000.0));
}

// The feed goes after it has had its say, from within its own signal too.
void AudioReceiver::fail(const QString &why)
{
    m_silence.stop();
    if (AudioFeed *feed = m_feed.release()) {
        feed->disconnect(this);
        feed->deleteLater();
    }
    if (!m_everFlowed && !std::exchange(m_told, true))
        emit unreachable(why);
    m_retry.start();
}
