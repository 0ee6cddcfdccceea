#include "audio/audio_feeds.h"

#include "identity.h"

StreamAudioFeed::StreamAudioFeed(const AudioRoute &route, quint64 *counter, QObject *parent)
    : AudioFeed(parent)
    , m_relayKey(route.relayKey)
    , m_pass(route.pass)
    , m_counter(counter)
{
    connect(&m_socket, &QSslSocket::readyRead, this, &StreamAudioFeed::takeBytes);
    connect(&m_socket, &QSslSocket::errorOccurred, this, [this] { emit failed(m_socket.errorString()); });
    if (!route.isSecure()) {
        m_keyShown = true;
        m_socket.connectToHost(route.host, route.port);
        return;
    }
    connect(&m_socket, &QSslSocket::encrypted, this, &StreamAudioFeed::judgeKey);
    m_socket.setSslConfiguration(route.tls);
    m_socket.connectToHostEncrypted(route.host, route.port);
}

// Nothing is played from a relay that is not the one the panel linked to.
void StreamAudioFeed::judgeKey()
{
    const QString presented = Identity::fingerprintOf(m_socket.peerCertificate());
    if (presented != m_relayKey) {
        m_socket.abort();
        emit failed(QStringLiteral("it presented another key for the audio than for the link, and "
                                   "nothing is played from it.\r\n\r\nLink: %1\r\nAudio: %2")
                        .arg(m_relayKey, presented));
        return;
    }
    m_keyShown = true;
    takeBytes();
}

void StreamAudioFeed::takeBytes()
{
    if (!m_keyShown)
        return;
    for (const QByteArray &rtp : m_deframer.feed(m_socket.readAll()))
        emit packet(rtp);
}

// The first packet goes after a report, that the relay knows the stream
// by; a relay that gave no pass is sent nothing.
void StreamAudioFeed::send(const QByteArray &packet)
{
    if (!m_pass || !m_keyShown || m_socket.state() != QAbstractSocket::ConnectedState)
        return;
    if (!std::exchange(m_introduced, true))
        m_socket.write(AudioPackets::framed(m_pass->report({}, ++*m_counter)));
    m_socket.write(AudioPackets::framed(packet));
}

UdpAudioFeed::UdpAudioFeed(const AudioRoute &route, std::function<Reception()> reception, quint64 *counter,
                           QObject *parent)
    : AudioFeed(parent)
    , m_pass(*route.pass)
    , m_reception(std::move(reception))
    , m_counter(counter)
{
    connect(&m_socket, &QUdpSocket::readyRead, this, &UdpAudioFeed::takeDatagrams);
    connect(&m_socket, &QUdpSocket::connected, this, &UdpAudioFeed::sendReport);
    m_reports.setInterval(ReportInterval);
    connect(&m_reports, &QTimer::timeout, this, &UdpAudioFeed::sendReport);
    // Connected, the socket takes datagrams from the relay's address alone.
    m_socket.connectToHost(route.host, route.port);
    m_reports.start();
}

void UdpAudioFeed::sendReport()
{
    if (m_socket.state() != QAbstractSocket::ConnectedState)
        return;
    m_socket.write(m_pass.report(m_reception(), ++*m_counter));
}

void UdpAudioFeed::send(const QByteArray &packet)
{
    if (m_socket.state() == QAbstractSocket::ConnectedState)
        m_socket.write(packet);
}

// A path that refuses or loses datagrams says so with an error now and
// then; only what arrives counts.
void UdpAudioFeed::takeDatagrams()
{
    while (m_socket.hasPendingDatagrams()) {
        QByteArray datagram(qMax<qint64>(0, m_socket.pendingDatagramSize()), Qt::Uninitialized);
        const qint64 size = m_socket.readDatagram(datagram.data(), datagram.size());
        if (size > 0)
            emit packet(datagram.first(size));
    }
}
