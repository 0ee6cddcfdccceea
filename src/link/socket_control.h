#pragma once

#include <QByteArray>
#include <QObject>
#include <QTcpSocket>

// The socket control for the relay server link.
class SocketControl : public QObject
{
    Q_OBJECT

public:
    // What may wait unread in the socket before the sender is held back, and
    // the most handed on at one time.
    static constexpr qint64 ReadBufferBytes = 64 * 1024;
    static constexpr qint64 ChunkBytes = 4 * 1024;

    explicit SocketControl(QObject *parent = nullptr);

    void connectToRemote(const QString &host, quint16 port);
    void close();
    bool isConnected() const;

    // Queues the bytes; false at once unless the socket is connected.
    bool send(const QByteArray &bytes);
    // At most ChunkBytes of what has arrived. When more is waiting,
    // dataArrival follows again from the event loop, so a flood is taken a
    // chunk at a time with timers and clicks served in between.
    QByteArray readChunk();

    // The relay closes its end after the sign-off; that close is expected
    // and is not reported as an error.
    void expectRemoteClose();

signals:
    void connected();
    void dataArrival();
    void sendComplete();
    void error(const QString &description);

private:
    void announceMoreData();
    void onBytesWritten();
    void onError(QAbstractSocket::SocketError socketError);

    QTcpSocket m_socket;
    bool m_remoteCloseExpected = false;
    bool m_moreDataAnnounced = false;
};
