#include "socket_control.h"

SocketControl::SocketControl(QObject *parent)
    : QObject(parent)
{
    m_socket.setReadBufferSize(ReadBufferBytes);
    connect(&m_socket, &QTcpSocket::connected, this, &SocketControl::connected);
    connect(&m_socket, &QTcpSocket::readyRead, this, &SocketControl::dataArrival);
    connect(&m_socket, &QTcpSocket::bytesWritten, this, &SocketControl::onBytesWritten);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &SocketControl::onError);
}

void SocketControl::connectToRemote(const QString &host, quint16 port)
{
    m_remoteCloseExpected = false;
    m_socket.abort();
    m_socket.connectToHost(host, port);
}

void SocketControl::close()
{
    m_socket.abort();
}

bool SocketControl::isConnected() const
{
    return m_socket.state() == QAbstractSocket::ConnectedState;
}

bool SocketControl::send(const QByteArray &bytes)
{
    if (!isConnected())
        return false;
    if (bytes.isEmpty()) {
        // Nothing to hand over: the send is complete, reported like any other.
        QMetaObject::invokeMethod(this, &SocketControl::sendComplete, Qt::QueuedConnection);
        return true;
    }
    return m_socket.write(bytes) == bytes.size();
}

// Qt raises readyRead only for newly arrived data, not for what is still
// buffered, so the rest is announced here.
QByteArray SocketControl::readChunk()
{
    const QByteArray chunk = m_socket.read(ChunkBytes);
    if (m_socket.bytesAvailable() > 0 && !m_moreDataAnnounced) {
        m_moreDataAnnounced = true;
        QMetaObject::invokeMethod(this, &SocketControl::announceMoreData, Qt::QueuedConnection);
    }
    return chunk;
}

void SocketControl::announceMoreData()
{
    m_moreDataAnnounced = false;
    if (m_socket.bytesAvailable() > 0)
        emit dataArrival();
}

void SocketControl::expectRemoteClose()
{
    m_remoteCloseExpected = true;
}

void SocketControl::onBytesWritten()
{
    if (m_socket.bytesToWrite() == 0)
        emit sendComplete();
}

void SocketControl::onError(QAbstractSocket::SocketError socketError)
{
    if (socketError == QAbstractSocket::RemoteHostClosedError && m_remoteCloseExpected)
        return;
    emit error(m_socket.errorString());
}
