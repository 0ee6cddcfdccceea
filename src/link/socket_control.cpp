#include "socket_control.h"

#include "identity.h"
#include "link/server_address.h"

#include <utility>

SocketControl::SocketControl(QObject *parent)
    : RadioLink(parent)
{
    carry(m_socket);
    m_socket.setReadBufferSize(ReadBufferBytes);
    connect(&m_socket, &QSslSocket::connected, this, &SocketControl::onConnected);
    connect(&m_socket, &QSslSocket::encrypted, this, &SocketControl::onEncrypted);
    connect(&m_socket, &QSslSocket::errorOccurred, this, &SocketControl::onError);
    connect(&m_socket, &QSslSocket::stateChanged, this, &SocketControl::onStateChanged);
}

void SocketControl::connectToRemote(const ServerAddress &server, const QSslConfiguration &tls)
{
    m_remoteCloseExpected = false;
    m_beforeFirstReply.clear();
    m_replying = false;
    m_secure = server.secure;
    m_peerKey.clear();
    m_peerAccepted = !m_secure;
    m_heldFailure.clear();
    m_failed = false;
    m_socket.abort();
    if (!m_secure)
        return m_socket.connectToHost(server.host, server.port);
    m_socket.setSslConfiguration(tls);
    m_socket.connectToHostEncrypted(server.host, server.port);
}

void SocketControl::close()
{
    m_socket.abort();
}

bool SocketControl::isOpen() const
{
    return m_peerAccepted && m_socket.state() == QAbstractSocket::ConnectedState;
}

bool SocketControl::isClosed() const
{
    return m_socket.state() == QAbstractSocket::UnconnectedState;
}

// What came while the key was judged is handed on now, and then the
// connection's end if it came too.
void SocketControl::acceptPeer()
{
    m_peerAccepted = true;
    emit connected();
    handOn({});
    if (!m_heldFailure.isEmpty())
        emit failed(std::exchange(m_heldFailure, {}));
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
    if (!m_secure)
        emit connected();
}

void SocketControl::onEncrypted()
{
    m_peerKey = Identity::fingerprintOf(m_socket.peerCertificate());
    emit peerKeyPresented(m_peerKey);
}

// More than a line's worth without a ";" is no refusal either, and is handed
// on as it is.
void SocketControl::handOn(const QByteArray &chunk)
{
    if (m_replying)
        return RadioLink::handOn(chunk);
    m_beforeFirstReply += chunk;
    if (!m_peerAccepted || (!m_beforeFirstReply.contains(';') && m_beforeFirstReply.size() <= ChunkBytes))
        return;
    m_replying = true;
    RadioLink::handOn(std::exchange(m_beforeFirstReply, {}));
}

// TLS tells a close of its own before the socket's: the first error is the
// one told.
void SocketControl::onError(QAbstractSocket::SocketError socketError)
{
    if ((socketError == QAbstractSocket::RemoteHostClosedError && m_remoteCloseExpected)
        || std::exchange(m_failed, true))
        return;
    if (!m_peerAccepted && !m_peerKey.isEmpty())
        m_heldFailure = failureOf(socketError);
    else
        emit failed(failureOf(socketError));
}

void SocketControl::onStateChanged(QAbstractSocket::SocketState state)
{
    if (state == QAbstractSocket::UnconnectedState)
        emit closed();
}

QString SocketControl::failureOf(QAbstractSocket::SocketError socketError) const
{
    const bool closed = socketError == QAbstractSocket::RemoteHostClosedError;
    const QByteArray refusal = m_beforeFirstReply.left(m_beforeFirstReply.indexOf('\n')).trimmed();
    if (closed && !refusal.isEmpty())
        return QString::fromLatin1(refusal);
    if (closed && !m_peerKey.isEmpty() && !m_replying && m_beforeFirstReply.isEmpty())
        return QStringLiteral("The relay did not accept this panel's key. Give the station's operator this "
                              "panel's fingerprint, to add it to the relay's operators:\r\n")
            + Identity::fingerprintOf(m_socket.localCertificate());
    return m_socket.errorString();
}
