#pragma once

#include "link/radio_link.h"

#include <QTcpSocket>

// The socket control for the relay server link. A relay that turns the
// panel away says why in a line of text and closes the connection: what a
// connection brings before its first ";" is held back, and if the relay
// closes on it, its first line is the description of the failure. It is
// never taken for a reply.
class SocketControl : public RadioLink
{
    Q_OBJECT

public:
    // What may wait unread in the socket before the sender is held back.
    static constexpr qint64 ReadBufferBytes = 64 * 1024;

    explicit SocketControl(QObject *parent = nullptr);

    void connectToRemote(const QString &host, quint16 port);
    void close() override;
    bool isOpen() const override;

    // The relay closes its end after the sign-off; that close is expected
    // and is not reported as a failure.
    void expectRemoteClose();

signals:
    void connected();

protected:
    void handOn(const QByteArray &chunk) override;

private:
    void onConnected();
    void onError(QAbstractSocket::SocketError socketError);

    QTcpSocket m_socket;
    bool m_remoteCloseExpected = false;
    QByteArray m_beforeFirstReply;
    bool m_replying = false;
};
