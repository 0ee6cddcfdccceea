#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QSslSocket>
#include <QTcpServer>
#include <QTest>

#include "identity.h"

#include <linux/filter.h>
#include <sys/socket.h>

#include <csignal>

// The companion programs as their users run them: started, talked to over
// loopback, and stopped by a signal.

// Generous bound for anything involving another process on a loaded machine.
constexpr int ProcessTimeout = 20000;

inline QByteArray everyByteValue()
{
    QByteArray bytes;
    for (int value = 0; value < 256; ++value)
        bytes.append(char(value));
    return bytes;
}

// Tests over IPv6 are skipped on a machine whose loopback has none.
inline bool hasIpv6Loopback()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHostIPv6);
}

// A panel's end of a relay connection, keeping everything it received.
// It comes from `from` when given, over IPv6 when that is an IPv6 address,
// and links securely with `key` when given.
struct TestClient
{
    explicit TestClient(quint16 port, const QHostAddress &from = {}, const Identity *key = nullptr)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] { received += socket.readAll(); });
        if (!from.isNull())
            socket.bind(from);
        const bool ipv6 = from.protocol() == QAbstractSocket::IPv6Protocol;
        const QHostAddress to = ipv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost;
        if (key) {
            socket.setSslConfiguration(key->tlsConfiguration());
            socket.connectToHostEncrypted(to.toString(), port);
        } else {
            socket.connectToHost(to, port);
        }
    }
    bool isClosed() const { return socket.state() == QAbstractSocket::UnconnectedState; }
    // Its computer gone without a word: nothing that reaches it is answered.
    void vanish()
    {
        static sock_filter dropAll = BPF_STMT(BPF_RET | BPF_K, 0);
        const sock_fprog program{1, &dropAll};
        ::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program);
    }
    // Leaves as a port scanner does, with a reset rather than a goodbye.
    void reset()
    {
        const linger abrupt{1, 0};
        ::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &abrupt, sizeof abrupt);
        socket.abort();
    }

    QSslSocket socket;
    QByteArray received;
};

// Starts a server program and returns the port it reports listening on,
// or 0 if it stopped or said nothing in time; what it said meanwhile goes
// to `said` when given.
inline quint16 startListening(QProcess &process, const QString &program, const QStringList &arguments,
                              QByteArray *said = nullptr)
{
    static const QRegularExpression listening(QStringLiteral("listening on \\S+:(\\d+)"));
    process.start(program, arguments);
    QByteArray output;
    QRegularExpressionMatch match;
    const bool ended = QTest::qWaitFor(
        [&] {
            output += process.readAllStandardOutput();
            match = listening.match(QString::fromLocal8Bit(output));
            return match.hasMatch() || process.state() == QProcess::NotRunning;
        },
        ProcessTimeout);
    if (said)
        *said = output;
    return ended && match.hasMatch() ? match.captured(1).toUShort() : 0;
}

// Sends the signal and tells whether the program then ended cleanly.
inline bool stopWith(QProcess &process, int signalNumber)
{
    ::kill(pid_t(process.processId()), signalNumber);
    return process.waitForFinished(ProcessTimeout) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}
