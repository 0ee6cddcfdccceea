#include "audio/tls_audio_feed.h"

#include "identity.h"

TlsAudioFeed::TlsAudioFeed(int silenceSeconds, QObject *parent)
    : QObject(parent)
{
    m_silence.setSingleShot(true);
    m_silence.setInterval(std::chrono::seconds(silenceSeconds));
    connect(&m_silence, &QTimer::timeout, this, [this, silenceSeconds] {
        giveUp(QStringLiteral("no answer within %1 seconds").arg(silenceSeconds));
    });
    connect(&m_socket, &QSslSocket::encrypted, this, &TlsAudioFeed::judgeKey);
    connect(&m_socket, &QSslSocket::readyRead, this, &TlsAudioFeed::takeBytes);
    connect(&m_socket, &QSslSocket::errorOccurred, this, &TlsAudioFeed::onError);
}

void TlsAudioFeed::open(const QString &host, quint16 port, const QSslConfiguration &tls,
                        const QString &relayKey)
{
    m_relayKey = relayKey;
    m_socket.setSslConfiguration(tls);
    m_socket.connectToHostEncrypted(host, port);
    m_silence.start();
}

// Nothing is played from a relay that is not the one the panel linked to.
void TlsAudioFeed::judgeKey()
{
    const QString presented = Identity::fingerprintOf(m_socket.peerCertificate());
    if (presented != m_relayKey)
        return giveUp(QStringLiteral("it presented another key for the audio than for the link, and "
                                     "nothing is played from it.\r\n\r\nLink: %1\r\nAudio: %2")
                          .arg(m_relayKey, presented));
    m_opened = true;
    m_silence.start();
    emit opened();
}

void TlsAudioFeed::takeBytes()
{
    m_silence.start();
    emit received(m_socket.readAll());
}

// The first error is the one told; the relay's close included.
void TlsAudioFeed::onError()
{
    giveUp(m_socket.errorString());
}

void TlsAudioFeed::giveUp(const QString &why)
{
    if (std::exchange(m_over, true))
        return;
    m_silence.stop();
    m_socket.abort();
    if (m_opened)
        emit ended();
    else
        emit failed(why);
}
