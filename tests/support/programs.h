#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

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

// A panel's end of a relay connection, keeping everything it received.
struct TestClient
{
    explicit TestClient(quint16 port, const QHostAddress &from = {})
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] { received += socket.readAll(); });
        if (!from.isNull())
            socket.bind(from);
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    bool isClosed() const { return socket.state() == QAbstractSocket::UnconnectedState; }

    QTcpSocket socket;
    QByteArray received;
};

// Starts a server program and returns the port it reports listening on,
// or 0 if it stopped or said nothing in time.
inline quint16 startListening(QProcess &process, const QString &program, const QStringList &arguments)
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
    return ended && match.hasMatch() ? match.captured(1).toUShort() : 0;
}

// Runs a program that is expected to give up at once; returns its exit code.
inline int runToExit(const QString &program, const QStringList &arguments, QByteArray *errorOutput)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(ProcessTimeout))
        return -1;
    *errorOutput = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// Sends the signal and tells whether the program then ended cleanly.
inline bool stopWith(QProcess &process, int signalNumber)
{
    ::kill(pid_t(process.processId()), signalNumber);
    return process.waitForFinished(ProcessTimeout) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}
