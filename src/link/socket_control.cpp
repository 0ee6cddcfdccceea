#include "socket_control.h"

#include <utility>

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
    m_beforeFirstReply.clear();
    m_replying = false;
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

// More than a line's worth without a ";" is no refusal either, and is handed
// on as it is.
void SocketControl::handOn(const QByteArray &chunk)
{
    if (m_replying)
        return RadioLink::handOn(chunk);
    m_beforeFirstReply += chunk;
    if (!m_beforeFirstReply.contains(';') && m_beforeFirstReply.size() <= ChunkBytes)
        return;
    m_replying = true;
    RadioLink::handOn(std::exchange(m_beforeFirstReply, {}));
}

void SocketControl::onError(QAbstractSocket::SocketError socketError)
{
    const bool closed = socketError == QAbstractSocket::RemoteHostClosedError;
    if (closed && m_remoteCloseExpected)
        return;
    const QByteArray refusal = m_beforeFirstReply.left(m_beforeFirstReply.indexOf('\n')).trimmed();
    emit failed(closed && !refusal.isEmpty() ? QString::fromLatin1(refusal) : m_socket.errorString());
}
