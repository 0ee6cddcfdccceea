#include "tcp_link.h"

TcpLink::TcpLink(QObject *parent)
    : QObject(parent)
{
    connect(&m_socket, &QTcpSocket::connected, this, &TcpLink::connected);
    connect(&m_socket, &QTcpSocket::readyRead, this, &TcpLink::dataArrival);
    connect(&m_socket, &QTcpSocket::bytesWritten, this, &TcpLink::onBytesWritten);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &TcpLink::onError);
}

void TcpLink::connectToRemote(const QString &host, quint16 port)
{
    m_remoteCloseExpected = false;
    m_socket.abort();
    m_socket.connectToHost(host, port);
}

void TcpLink::close()
{
    m_socket.abort();
}

bool TcpLink::isConnected() const
{
    return m_socket.state() == QAbstractSocket::ConnectedState;
}

bool TcpLink::send(const QByteArray &bytes)
{
    if (!isConnected())
        return false;
    if (bytes.isEmpty()) {
        // Nothing to hand over: the send is complete, reported like any other.
        QMetaObject::invokeMethod(this, &TcpLink::sendComplete, Qt::QueuedConnection);
        return true;
    }
    return m_socket.write(bytes) == bytes.size();
}

QByteArray TcpLink::readAll()
{
    return m_socket.readAll();
}

void TcpLink::expectRemoteClose()
{
    m_remoteCloseExpected = true;
}

void TcpLink::onBytesWritten()
{
    if (m_socket.bytesToWrite() == 0)
        emit sendComplete();
}

void TcpLink::onError(QAbstractSocket::SocketError socketError)
{
    if (socketError == QAbstractSocket::RemoteHostClosedError && m_remoteCloseExpected)
        return;
    emit error(m_socket.errorString());
}
