#pragma once

#include "audio_pass.h"
#include "srtp_sealer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>

#include <chrono>
#include <map>
#include <memory>
#include <optional>

// The receiver's audio over UDP, beside the framed stream on TCP: each
// linked panel is given a pass over its control link (grant()), and the
// audio goes to the address its signed reports come from, for as long as
// they keep coming and the link lasts. An address that has shown no pass
// is sent nothing, so the relay cannot be made to flood anyone. A secure
// link's audio is sealed with SRTP under a key drawn from its pass, which
// went over TLS only.
//
// What a panel says back is its operator's audio while transmitting: RTP
// packets (SRTP on a secure link) from where its reports come, on UDP, or
// framed on its TCP audio connection after a signed report; spoken() hands
// them on with the pass they came under.
class UdpAudio : public QObject
{
    Q_OBJECT

public:
    // Reports stop this long and sending stops, until they come again.
    static constexpr std::chrono::seconds Silence{2};

    explicit UdpAudio(QObject *parent = nullptr);

    // On the audio port's address and number.
    bool listen(const QHostAddress &address, quint16 port, QString *problem);
    bool isListening() const { return m_socket.state() == QAbstractSocket::BoundState; }

    // A pass for the panel `name` until revoke(); its audio sealed when
    // `secure`.
    AudioPass grant(const QString &name, bool secure);
    void revoke(const AudioPass &pass);
    // Addresses the audio goes to now.
    int receiving() const;
    // The pass a report on a TCP audio connection is signed with, newer
    // than any before it; nothing for any other.
    std::optional<QByteArray> vouchFor(const QByteArray &report);

public slots:
    void send(const QByteArray &rtp);

signals:
    void message(const QString &text);
    // A packet of the operator's from the panel with pass `id`: SRTP under
    // `srtpKey`, or RTP when that is empty.
    void spoken(const QByteArray &id, const QByteArray &packet, const QByteArray &srtpKey);
    // The most that any receiving panel reports losing, in percent.
    void expectedLossChanged(int percent);

private:
    struct Grant
    {
        Grant(const AudioPass &pass, const QString &name, bool secure)
            : pass(pass)
            , name(name)
            , secure(secure)
        { }

        AudioPass pass;
        QString name;
        bool secure = false;
        QHostAddress address;
        quint16 port = 0;
        quint64 counter = 0;
        quint32 reporter = 0;
        bool receiving = false;
        bool sealRefused = false;
        QElapsedTimer heard;
        int lossPercent = 0;
        std::unique_ptr<SrtpSealer> sealer;
    };

    void readReports();
    Grant *vouchedGrant(const AudioReport &report);
    void take(const AudioReport &report, const QHostAddress &address, quint16 port);
    void hear(const QByteArray &packet, const QHostAddress &address, quint16 port);
    void begin(Grant &grant, const AudioReport &report, const QHostAddress &address, quint16 port);
    bool sealFor(Grant &grant);
    void end(Grant &grant, const QString &why);
    void dropSilent();
    void updateExpectedLoss();
    static QString destination(const Grant &grant);

    QUdpSocket m_socket;
    QTimer m_silenceCheck;
    std::map<QByteArray, Grant> m_grants;
    int m_expectedLoss = 0;
};
