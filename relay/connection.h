#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>

// The relay's raw TCP work, on plain descriptors: QTcpSocket cannot keep
// writing to a client that has only stopped sending (a half-close), nor
// tell what the kernel still holds for a client, nor acknowledge at once.

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

// One client's connection. What it sends is read on request, so that a
// client can be made to wait; every read is acknowledged at once, so that a
// client holding its next small write for the acknowledgement of the last
// (Nagle's rule, as most CAT programs leave it) is not held up. Small writes
// leave at once, and the kernel's send buffer can be kept small so that what
// a client leaves unread shows in unsent().
class Connection : public QObject
{
    Q_OBJECT

public:
    // Takes the descriptor; name() is the client's "ADDRESS:PORT".
    Connection(int descriptor, const QString &name, QObject *parent = nullptr);
    ~Connection() override;

    const QString &name() const { return m_name; }
    bool isOpen() const { return m_socket >= 0; }
    // Keep-alive probes and the user timeout for liveness, no delay on
    // small writes, and the kernel's send buffer; false when the system
    // refuses one of them, with the reason.
    bool watch(const Liveness &liveness, int sendBuffer, QString *problem);

    QByteArray read(qint64 most);
    // The client has sent all it ever will.
    bool atEnd() const { return m_atEnd; }
    // Whether the client has closed its end, without reading what it sent.
    bool hasHungUp() const;
    void setReading(bool reading);

    void write(QByteArrayView data);
    // Written but not taken by the client: ours and the kernel's.
    qint64 unsent() const;

    // Lets what was written leave, then ends, waiting up to `linger` for the
    // client to close too (its last text would otherwise be answered by a
    // reset that may cost it ours). closed() follows.
    void close(std::chrono::milliseconds linger);
    // Ends at once; closed() follows.
    void abort();

signals:
    void readyRead();
    // The client reset the connection: it hears nothing more.
    void reset();
    // The connection failed otherwise (the client vanished): why.
    void lost(const QString &why);
    void closed();

private:
    void flush();
    void fail(int error);
    void finishClosing();
    void release();
    void updateNotifiers();

    int m_socket;
    QString m_name;
    QByteArray m_outgoing;
    bool m_reading = true;
    bool m_atEnd = false;
    bool m_closing = false;
    bool m_shutDown = false;
    QSocketNotifier m_readNotifier;
    QSocketNotifier m_writeNotifier;
    QTimer m_lingerTimer;
};
