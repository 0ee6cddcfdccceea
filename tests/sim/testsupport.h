#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include <QByteArray>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

// Generous bound for anything involving another process on a loaded machine.
constexpr int ProcessTimeout = 20000;

// A panel's end of a relay connection, keeping everything it received.
struct TestClient
{
    TestClient()
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] { received += socket.readAll(); });
    }

    void connectTo(quint16 port) { socket.connectToHost(QHostAddress::LocalHost, port); }
    void send(const QByteArray &bytes) { socket.write(bytes); }
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
    const bool said = QTest::qWaitFor([&] {
        output += process.readAllStandardOutput();
        match = listening.match(QString::fromLocal8Bit(output));
        return match.hasMatch() || process.state() == QProcess::NotRunning;
    }, ProcessTimeout);
    return said && match.hasMatch() ? match.captured(1).toUShort() : 0;
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

#endif
