#include "relay_server.h"
#include "testsupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

const QString Sim = QStringLiteral(Q9SIM_PATH);
const QByteArray Greeting = RelayServer::Greeting.toByteArray();

bool stopWith(QProcess &process, int signalNumber)
{
    ::kill(pid_t(process.processId()), signalNumber);
    return process.waitForFinished(ProcessTimeout) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
}

} // namespace

class TestQ9Sim : public QObject
{
    Q_OBJECT

private slots:
    void servesPseudoTerminal();
    void servesRelayClients();
    void portInUse();
    void usageErrors_data();
    void usageErrors();
};

void TestQ9Sim::servesPseudoTerminal()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("com1"));
    QProcess sim;
    sim.start(Sim, {QStringLiteral("--pty"), link, QStringLiteral("--vfoa"), QStringLiteral("7040000"),
                    QStringLiteral("--paced")});
    QByteArray output;
    QVERIFY(QTest::qWaitFor([&] {
        output += sim.readAllStandardOutput();
        return output.contains("serving") || sim.state() == QProcess::NotRunning;
    }, ProcessTimeout));
    QVERIFY2(QFileInfo(link).isSymLink(), output.constData());

    QSerialPort line(link);
    line.setBaudRate(4800);
    QVERIFY2(line.open(QIODevice::ReadWrite), qPrintable(line.errorString()));
    QByteArray replies;
    connect(&line, &QSerialPort::readyRead, this, [&] { replies += line.readAll(); });
    line.write("fa;MD;");
    QTRY_COMPARE_WITH_TIMEOUT(replies, QByteArray("FA00007040000;MD2;"), ProcessTimeout);
    line.close();

    QVERIFY(stopWith(sim, SIGTERM));
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestQ9Sim::servesRelayClients()
{
    QProcess sim;
    const quint16 port = startListening(sim, Sim, {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
    QVERIFY(port != 0);

    TestClient first;
    first.connectTo(port);
    QTRY_COMPARE_WITH_TIMEOUT(first.received, Greeting, ProcessTimeout);
    first.send("FA;");
    QTRY_COMPARE_WITH_TIMEOUT(first.received, Greeting + "FA00014060000;", ProcessTimeout);

    TestClient second;
    QSignalSpy refused(&second.socket, &QTcpSocket::disconnected);
    second.connectTo(port);
    QTRY_COMPARE_WITH_TIMEOUT(refused.count(), 1, ProcessTimeout);
    QCOMPARE(second.received, RelayServer::BusyText.toByteArray());

    first.received.clear();
    first.send("ID;FA;#");
    QTRY_COMPARE_WITH_TIMEOUT(first.received, QByteArray("ID900;FA00014060000;"), ProcessTimeout);
    first.send("#");
    QTRY_VERIFY_WITH_TIMEOUT(first.isClosed(), ProcessTimeout);

    TestClient third;
    third.connectTo(port);
    QTRY_COMPARE_WITH_TIMEOUT(third.received, Greeting, ProcessTimeout);
    third.send("MD;");
    QTRY_COMPARE_WITH_TIMEOUT(third.received, Greeting + "MD2;", ProcessTimeout);
    third.socket.abort();

    TestClient fourth;
    fourth.connectTo(port);
    QTRY_COMPARE_WITH_TIMEOUT(fourth.received, Greeting, ProcessTimeout);

    QVERIFY(stopWith(sim, SIGINT));
}

void TestQ9Sim::portInUse()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::LocalHost));
    const QString endpoint = QStringLiteral("127.0.0.1:%1").arg(occupant.serverPort());
    QByteArray errors;
    QCOMPARE(runToExit(Sim, {QStringLiteral("--listen"), endpoint}, &errors), 1);
    QVERIFY2(errors.contains(endpoint.toLatin1()), errors.constData());
}

void TestQ9Sim::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("unknown option") << QStringList{"--bogus"};
    QTest::newRow("stray argument") << QStringList{"radio"};
    QTest::newRow("missing value") << QStringList{"--pty"};
    QTest::newRow("bad mode") << QStringList{"--mode", "5"};
    QTest::newRow("bad frequency") << QStringList{"--vfoa", "14MHz"};
    QTest::newRow("frequency out of range") << QStringList{"--vfob", "99000000"};
    QTest::newRow("bad power form") << QStringList{"--power-form", "medium"};
    QTest::newRow("bad tune time") << QStringList{"--tune-seconds", "0"};
    QTest::newRow("bad seed") << QStringList{"--seed", "-1"};
    QTest::newRow("bad probe") << QStringList{"--probe", "maybe"};
    QTest::newRow("address without port") << QStringList{"--listen", "127.0.0.1"};
    QTest::newRow("host name") << QStringList{"--listen", "nowhere:2300"};
    QTest::newRow("port out of range") << QStringList{"--listen", "127.0.0.1:65536"};
    QTest::newRow("pty and listen") << QStringList{"--pty", "com1", "--listen", "127.0.0.1:0"};
    QTest::newRow("pty in missing directory") << QStringList{"--pty", "/nonexistent/q9/com1"};
}

void TestQ9Sim::usageErrors()
{
    QFETCH(QStringList, arguments);
    QByteArray errors;
    QCOMPARE(runToExit(Sim, arguments, &errors), 1);
    QVERIFY(errors.startsWith("q9sim: "));
}

QTEST_GUILESS_MAIN(TestQ9Sim)
#include "tst_q9sim.moc"
