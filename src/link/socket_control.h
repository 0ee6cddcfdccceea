#pragma once

#include "link/radio_link.h"

#include <QSslConfiguration>
#include <QSslSocket>

struct ServerAddress;

// The socket control for the relay server link. A relay that turns the
// panel away says why in a line of text and closes the connection: what a
// connection brings before its first ";" is held back, and if the relay
// closes on it, its first line is the description of the failure. It is
// never taken for a reply.
//
// A secure address is reached over TLS with the panel's key. The link then
// opens only once the relay's key has been judged: until acceptPeer() it
// takes nothing to send, and what the relay sends, its closing included,
// waits. A relay that closes at once without a word did not accept the
// panel's key, and the failure says so.
class SocketControl : public RadioLink
{
    Q_OBJECT

public:
    // What may wait unread in the socket before the sender is held back.
    static constexpr qint64 ReadBufferBytes = 64 * 1024;

    explicit SocketControl(QObject *parent = nullptr);

    // `tls` carries the panel's key, for a secure address only.
    void connectToRemote(const ServerAddress &server, const QSslConfiguration &tls = {});
    void close() override;
    bool isOpen() const override;
    // Neither connected nor on its way.
    bool isClosed() const;

    // The fingerprint of the relay's key once a secure link's handshake is
    // done, and empty until then.
    QString peerKey() const { return m_peerKey; }
    // The relay's key is the one expected: the link opens.
    void acceptPeer();

    // The relay closes its end after the sign-off; that close is expected
    // and is not reported as a failure.
    void expectRemoteClose();

signals:
    // Open for sending.
    void connected();
    void peerKeyPresented(const QString &key);
    // The connection is over, whichever end ended it, or was never made.
    void closed();

protected:
    void handOn(const QByteArray &chunk) override;

private:
    void onConnected();
    void onEncrypted();
    void onError(QAbstractSocket::SocketError socketError);
    void onStateChanged(QAbstractSocket::SocketState state);
    QString failureOf(QAbstractSocket::SocketError socketError) const;

    QSslSocket m_socket;
    bool m_remoteCloseExpected = false;
    QByteArray m_beforeFirstReply;
    bool m_replying = false;
    bool m_secure = false;
    QString m_peerKey;
    bool m_peerAccepted = false;
    QString m_heldFailure;
    bool m_failed = false;
};
