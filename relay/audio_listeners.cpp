#include "audio_listeners.h"

AudioListeners::~AudioListeners()
{
    // Closing them here would report to a log that is going away too.
    for (const QPointer<QTcpSocket> &socket : std::as_const(m_sockets)) {
        if (socket)
            socket->disconnect(this);
    }
}

void AudioListeners::add(QTcpSocket *socket)
{
    socket->setParent(this);
    m_sockets.append(socket);
    // Nothing a listener says is needed; it is read and let go.
    connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
    connect(socket, &QTcpSocket::disconnected, this,
            [this, socket] { drop(socket, QStringLiteral("left")); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] {
        if (socket->error() != QAbstractSocket::RemoteHostClosedError)
            drop(socket, QStringLiteral("lost: %1").arg(socket->errorString()));
    });
}

int AudioListeners::count() const
{
    return int(m_sockets.size());
}

void AudioListeners::closeAll(const QString &why)
{
    for (const QPointer<QTcpSocket> &socket : QList(m_sockets))
        drop(socket, why);
}

void AudioListeners::send(const QByteArray &packet)
{
    for (const QPointer<QTcpSocket> &socket : QList(m_sockets)) {
        if (socket->bytesToWrite() + packet.size() > MaxBacklog)
            drop(socket, QStringLiteral("cut off: it does not keep up with the stream"));
        else
            socket->write(packet);
    }
}

void AudioListeners::drop(QTcpSocket *socket, const QString &why)
{
    if (!m_sockets.removeOne(socket))
        return;
    emit message(QStringLiteral("%1 %2").arg(socket->property("name").toString(), why));
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}
