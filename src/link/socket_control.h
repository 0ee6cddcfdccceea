#pragma once

#include <QByteArray>
#include <QObject>
#include <QTcpSocket>

// The socket control for the relay server link.
class SocketControl : public QObject
{
    Q_OBJECT

public:
    explicit SocketControl(QObject *parent = nullptr);

    void connectToRemote(const QString &host, quint16 port);
    void close();
    bool isConnected() const;

    // Queues the bytes; false at once unless the socket is connected.
    bool send(const QByteArray &bytes);
    QByteArray readAll();

    // The relay closes its end after the sign-off; that close is expected
    // and is not reported as an error.
    void expectRemoteClose();

signals:
    void connected();
    void dataArrival();
    void sendComplete();
    void error(const QString &description);

private:
    void onBytesWritten();
    void onError(QAbstractSocket::SocketError socketError);

    QTcpSocket m_socket;
    bool m_remoteCloseExpected = false;
};
