#pragma once

#include "audio_packets.h"
#include "audio_pass.h"

#include <QObject>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>
#include <QUdpSocket>

#include <functional>

// Where the relay's audio is, as the panel's link found it.
struct AudioRoute
{
    QString host;
    quint16 port = 0;
    // The panel's pass for UDP, from the greeting; none from a relay that
    // offers TCP only.
    std::optional<AudioPass> pass;
    // The panel's key on a secure link, and the relay's that it holds to.
    QSslConfiguration tls;
    QString relayKey;

    bool isSecure() const { return !tls.isNull(); }
};

// One way the relay's RTP packets come to the panel, and the operator's go
// to the relay; it lives on the player's thread.
class AudioFeed : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual void send(const QByteArray &packet) = 0;

signals:
    void packet(const QByteArray &packet);
    // It cannot go on: why, in the operator's words.
    void failed(const QString &why);
};

// The framed stream on the relay's audio port over TCP, in TLS with the
// panel's key on a secure link, and then only from a relay that presents
// the key the panel's link was accepted with. The operator's packets go
// back framed the same way, after a report signed with the pass that says
// whose they are; without a pass none go.
class StreamAudioFeed : public AudioFeed
{
    Q_OBJECT

public:
    // `counter` numbers the reports of this pass, whatever feed sends them.
    StreamAudioFeed(const AudioRoute &route, quint64 *counter, QObject *parent = nullptr);

    void send(const QByteArray &packet) override;

private:
    void judgeKey();
    void takeBytes();

    QSslSocket m_socket{this};
    QString m_relayKey;
    std::optional<AudioPass> m_pass;
    quint64 *m_counter;
    bool m_keyShown = false;
    bool m_introduced = false;
    AudioPackets::Deframer m_deframer;
};

// The packets on UDP, sent to the address that the panel's reports come
// from: a report, signed with the pass, goes every ReportInterval, and it
// also keeps a home router's mapping open.
class UdpAudioFeed : public AudioFeed
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds ReportInterval{200};

    // `reception` tells what to report; `counter` numbers the reports of
    // this pass, whatever feed sends them.
    UdpAudioFeed(const AudioRoute &route, std::function<Reception()> reception, quint64 *counter,
                 QObject *parent = nullptr);

    void send(const QByteArray &packet) override;

private:
    void sendReport();
    void takeDatagrams();

    QUdpSocket m_socket{this};
    QTimer m_reports{this};
    AudioPass m_pass;
    std::function<Reception()> m_reception;
    quint64 *m_counter;
};
