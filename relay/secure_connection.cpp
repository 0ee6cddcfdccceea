#include "secure_connection.h"

#include "identity.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// A TLS record: its type, version and length, then what it carries.
constexpr qsizetype RecordHeader = 5;
constexpr char HandshakeRecord = 0x16;
constexpr qsizetype MaxRecord = 16 * 1024 + 256;

} // namespace

SecureConnection::SecureConnection(int descriptor, const QString &name, const QSslConfiguration &tls,
                                   QObject *parent)
    : Connection(name, parent)
    , m_waiting(descriptor)
    , m_helloNotifier(descriptor, QSocketNotifier::Read)
    , m_tls(tls)
{
    connect(&m_helloNotifier, &QSocketNotifier::activated, this, &SecureConnection::lookForHello);
    m_socket.setReadBufferSize(ReadAhead);
    connect(&m_socket, &QSslSocket::encrypted, this, [this] {
        m_fingerprint = Identity::fingerprintOf(m_socket.peerCertificate());
        emit verified();
    });
    connect(&m_socket, &QIODevice::readyRead, this, [this] {
        if (m_reading && isVerified())
            emit readyRead();
    });
    // What the client sent before it closed is read before it is gone.
    connect(&m_socket, &QIODevice::readChannelFinished, this, [this] {
        m_atEnd = true;
        if (isVerified() && !m_closing)
            emit readyRead();
    });
    connect(&m_socket, &QAbstractSocket::errorOccurred, this, &SecureConnection::onError);
    connect(&m_socket, &QAbstractSocket::disconnected, this, &SecureConnection::tellClosed);
    m_lingerTimer.setSingleShot(true);
    connect(&m_lingerTimer, &QTimer::timeout, this, &SecureConnection::abort);
}

SecureConnection::~SecureConnection()
{
    // The socket, going after the rest of this, says it closed.
    disconnect(&m_socket, nullptr, this, nullptr);
    if (!hasHello()) {
        m_helloNotifier.setEnabled(false);
        ::close(m_waiting);
    }
}

// The hello is looked at where it waits, and taken whole by the handshake.
void SecureConnection::lookForHello()
{
    char record[MaxRecord];
    const ssize_t count = ::recv(m_waiting, record, sizeof record, MSG_PEEK | MSG_DONTWAIT);
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (count <= 0) {
        emit lost(count == 0 ? QStringLiteral("closed before its hello")
                             : QString::fromLocal8Bit(strerror(errno)));
        return abort();
    }
    if (record[0] != HandshakeRecord) {
        emit lost(QStringLiteral("does not speak TLS"));
        return abort();
    }
    if (count < RecordHeader)
        return;
    const qsizetype length = (quint8(record[3]) << 8) | quint8(record[4]);
    if (count >= RecordHeader + length)
        startHandshake();
}

void SecureConnection::startHandshake()
{
    m_helloNotifier.setEnabled(false);
    const int descriptor = std::exchange(m_waiting, -1);
    m_socket.setSslConfiguration(m_tls);
    if (!m_socket.setSocketDescriptor(descriptor)) {
        ::close(descriptor);
        emit lost(m_socket.errorString());
        return tellClosed();
    }
    emit helloReceived();
    m_socket.startServerEncryption();
}

bool SecureConnection::isOpen() const
{
    if (!hasHello())
        return !m_closed;
    return !m_closed && m_socket.state() != QAbstractSocket::UnconnectedState;
}

QByteArray SecureConnection::read(qint64 most)
{
    const QByteArray data = m_socket.read(most);
    if (!data.isEmpty())
        acknowledge();
    return data;
}

bool SecureConnection::atEnd() const
{
    return m_atEnd && m_socket.bytesAvailable() == 0;
}

bool SecureConnection::hasHungUp() const
{
    return m_atEnd || !isOpen();
}

void SecureConnection::setReading(bool reading)
{
    m_reading = reading;
    if (reading && m_socket.bytesAvailable() > 0)
        QMetaObject::invokeMethod(
            this, [this] { emit readyRead(); }, Qt::QueuedConnection);
}

void SecureConnection::write(QByteArrayView data)
{
    if (isOpen() && !m_closing && isVerified())
        m_socket.write(data.data(), data.size());
}

qint64 SecureConnection::unsent() const
{
    return m_socket.bytesToWrite() + m_socket.encryptedBytesToWrite() + kernelUnsent();
}

void SecureConnection::close(std::chrono::milliseconds linger)
{
    if (!isOpen() || m_closing)
        return;
    if (!hasHello())
        return abort();
    m_closing = true;
    m_lingerTimer.start(linger);
    m_socket.disconnectFromHost();
}

void SecureConnection::abort()
{
    if (m_closed)
        return;
    if (!hasHello()) {
        m_helloNotifier.setEnabled(false);
        ::close(std::exchange(m_waiting, -1));
    }
    m_socket.abort();
    tellClosed();
}

// A client that closed its end has left; anything else lost it.
void SecureConnection::onError(QAbstractSocket::SocketError error)
{
    if (m_closing || m_closed)
        return;
    if (error == QAbstractSocket::RemoteHostClosedError && isVerified()) {
        m_atEnd = true;
        return;
    }
    emit lost(m_socket.errorString());
    abort();
}

void SecureConnection::tellClosed()
{
    if (std::exchange(m_closed, true))
        return;
    m_lingerTimer.stop();
    emit closed();
}
