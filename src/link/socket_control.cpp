#include "socket_control.h"

SocketControl::SocketControl(QObject *parent)
    : RadioLink(parent)
{
    carry(m_socket);
    m_socket.setReadBufferSize(ReadBufferBytes);
    connect(&m_socket, &QTcpSocket::connected, this, &SocketControl::onConnected);
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

bool SocketControl::isOpen() const
{
    return m_socket.state() == QAbstractSocket::ConnectedState;
}

void SocketControl::expectRemoteClose()
{
    m_remoteCloseExpected = true;
}

// A command is a few bytes, and the next may not come for a while: it
// leaves at once instead of waiting to be joined with more.
void SocketControl::onConnected()
{
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    emit connected();
}

void SocketControl::onError(QAbstractSocket::SocketError socketError)
{
    if (socketError == QAbstractSocket::RemoteHostClosedError && m_remoteCloseExpected)
        return;
    emit failed(m_socket.errorString());
}
