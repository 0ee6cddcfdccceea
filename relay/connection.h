#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>

// The relay's TCP work: listening on plain descriptors, and what every
// connection does beyond Qt's sockets: tell what the kernel still holds for
// a client, and acknowledge at once.

// How a client that vanished without a word (its computer off, its network
// gone) is found out, so that it does not keep its place: after `idle`
// without a sign of life its end is asked up to `probes` times, `interval`
// apart, and the connection ends once nothing has come back for `silence`.
// A quiet client that is still there answers and stays. The defaults free it
// within about 30 s.
struct Liveness
{
    std::chrono::seconds idle{10};
    std::chrono::seconds interval{5};
    int probes = 4;
    std::chrono::milliseconds silence{30000};
};

// A listening socket on one address. "[::]" serves IPv6 and IPv4 alike on a
// host that has both; any other address serves its own family alone.
class Listener : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~Listener() override;

    bool listen(const QHostAddress &address, quint16 port);
    QString errorString() const { return m_errorString; }
    // Where it listens, as "ADDRESS:PORT", IPv6 in brackets.
    QString endpoint() const;
    quint16 port() const { return m_port; }
    QHostAddress address() const { return m_address; }
    bool isLoopback() const { return m_address.isLoopback(); }

signals:
    // A client connected: its descriptor, non-blocking, is the receiver's.
    void incoming(int descriptor, const QHostAddress &address, quint16 port);
    void message(const QString &text);

private:
    void acceptAll();
    void backOff(int error);

    int m_socket = -1;
    QHostAddress m_address;
    quint16 m_port = 0;
    QString m_errorString;
    QSocketNotifier *m_notifier = nullptr;
};

// One client's connection, plain (PlainConnection) or secure
// (SecureConnection). What it sends is read on request, so that a client
// can be made to wait; every read is acknowledged at once, so that a client
// holding its next small write for the acknowledgement of the last (Nagle's
// rule, as most CAT programs leave it) is not held up. Small writes leave at
// once, and the kernel's send buffer can be kept small so that what a client
// leaves unread shows in unsent().
class Connection : public QObject
{
    Q_OBJECT

public:
    // name() is the client's "ADDRESS:PORT".
    explicit Connection(const QString &name, QObject *parent = nullptr);

    const QString &name() const { return m_name; }
    virtual bool isOpen() const = 0;
    // Keep-alive probes and the user timeout for liveness, no delay on
    // small writes, and the kernel's send buffer (0: the kernel's own, which
    // grows with the path's round trip); false when the system
    // refuses one of them, with the reason.
    bool watch(const Liveness &liveness, int sendBuffer, QString *problem);
    // The client's key as its fingerprint, on a secure connection once it
    // is verified; empty on a plain one.
    virtual QString fingerprint() const { return {}; }

    virtual QByteArray read(qint64 most) = 0;
    // The client has sent all it ever will.
    virtual bool atEnd() const = 0;
    // Whether the client has closed its end, without reading what it sent.
    virtual bool hasHungUp() const = 0;
    virtual void setReading(bool reading) = 0;

    virtual void write(QByteArrayView data) = 0;
    // Written but not taken by the client: ours and the kernel's.
    virtual qint64 unsent() const = 0;

    // Lets what was written leave, then ends, waiting up to `linger` for the
    // client to close too (its last text would otherwise be answered by a
    // reset that may cost it ours). closed() follows.
    virtual void close(std::chrono::milliseconds linger) = 0;
    // Ends at once; closed() follows.
    virtual void abort() = 0;

signals:
    void readyRead();
    // The client reset the connection: it hears nothing more.
    void reset();
    // The connection failed otherwise (the client vanished): why.
    void lost(const QString &why);
    void closed();

protected:
    virtual int descriptor() const = 0;
    // Acknowledges what was read at once.
    void acknowledge();
    // What the kernel holds unsent.
    qint64 kernelUnsent() const;

private:
    QString m_name;
};

// A connection on its plain descriptor: QTcpSocket cannot keep writing to a
// client that has only stopped sending (a half-close).
class PlainConnection : public Connection
{
    Q_OBJECT

public:
    // Takes the descriptor.
    PlainConnection(int descriptor, const QString &name, QObject *parent = nullptr);
    ~PlainConnection() override;

    bool isOpen() const override { return m_socket >= 0; }
    QByteArray read(qint64 most) override;
    bool atEnd() const override { return m_atEnd; }
    bool hasHungUp() const override;
    void setReading(bool reading) override;
    void write(QByteArrayView data) override;
    qint64 unsent() const override;
    void close(std::chrono::milliseconds linger) override;
    void abort() override;

protected:
    int descriptor() const override { return m_socket; }

private:
    void flush();
    void fail(int error);
    void finishClosing();
    void release();
    void updateNotifiers();

    int m_socket;
    QByteArray m_outgoing;
    bool m_reading = true;
    bool m_atEnd = false;
    bool m_closing = false;
    bool m_shutDown = false;
    QSocketNotifier m_readNotifier;
    QSocketNotifier m_writeNotifier;
    QTimer m_lingerTimer;
};
