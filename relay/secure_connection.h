#pragma once

#include "connection.h"

#include <QSslConfiguration>
#include <QSslSocket>

// A client over TLS 1.3, known by its key. Nothing is read from it or
// written to it before its handshake is done: verified() then tells its
// fingerprint(), which the caller checks; a handshake that fails is lost().
// A client that closes its end closes the whole connection, as TLS does here.
//
// Until the client's first message (its hello) has come whole, the
// connection is only its descriptor, looked at without being read: a client
// that connects and says nothing, or too little, costs no TLS at all, and
// one that speaks anything but TLS is let go at once.
class SecureConnection : public Connection
{
    Q_OBJECT

public:
    // What is read ahead of the client's session, deciphered.
    static constexpr qint64 ReadAhead = 16 * 1024;

    // Takes the descriptor and starts the handshake.
    SecureConnection(int descriptor, const QString &name, const QSslConfiguration &tls,
                     QObject *parent = nullptr);
    ~SecureConnection() override;

    bool isOpen() const override;
    bool hasHello() const { return m_waiting < 0; }
    bool isVerified() const { return m_socket.isEncrypted(); }
    QString fingerprint() const override { return m_fingerprint; }
    QByteArray read(qint64 most) override;
    bool atEnd() const override;
    bool hasHungUp() const override;
    void setReading(bool reading) override;
    void write(QByteArrayView data) override;
    qint64 unsent() const override;
    void close(std::chrono::milliseconds linger) override;
    void abort() override;

signals:
    // The client's hello has come: the handshake goes on.
    void helloReceived();
    void verified();

protected:
    int descriptor() const override { return hasHello() ? int(m_socket.socketDescriptor()) : m_waiting; }

private:
    void lookForHello();
    void startHandshake();
    void onError(QAbstractSocket::SocketError error);
    void tellClosed();

    // The descriptor while the hello is awaited.
    int m_waiting;
    QSocketNotifier m_helloNotifier;
    QSslConfiguration m_tls;
    QSslSocket m_socket;
    QString m_fingerprint;
    bool m_reading = true;
    bool m_atEnd = false;
    bool m_closing = false;
    bool m_closed = false;
    QTimer m_lingerTimer;
};
