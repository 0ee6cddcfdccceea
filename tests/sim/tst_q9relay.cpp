#include "pseudo_terminal.h"
#include "relay_server.h"
#include "testsupport.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString Relay = QStringLiteral(Q9RELAY_PATH);
const QByteArray Greeting = RelayServer::Greeting.toByteArray();

QByteArray everyByteValue()
{
    QByteArray bytes;
    for (int value = 0; value < 256; ++value)
        bytes.append(char(value));
    return bytes;
}

// The radio's serial port, played by a pseudo-terminal behind a symlink
// that the relay is given as its device.
struct FakeRadio
{
    explicit FakeRadio(const QString &linkPath)
    {
        if (!terminal.open() || !terminal.createLink(linkPath))
            qWarning("fake radio: %s", qPrintable(terminal.errorString()));
        QObject::connect(&terminal, &PseudoTerminal::readyRead, &terminal,
                         [this] { received += terminal.readAll(); });
    }

    PseudoTerminal terminal;
    QByteArray received;
};

} // namespace

class TestQ9Relay : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void relaysBytesUnchanged();
    void signOff();
    void deviceGoesAwayAndComesBack();
    void startupErrors();

private:
    bool startRelay();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeRadio> m_radio;
    std::unique_ptr<QProcess> m_relay;
    QString m_device;
    quint16 m_port = 0;
};

void TestQ9Relay::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_device = m_dir->filePath(QStringLiteral("radio"));
    m_radio = std::make_unique<FakeRadio>(m_device);
    m_relay = std::make_unique<QProcess>();
}

void TestQ9Relay::cleanup()
{
    if (m_relay->state() != QProcess::NotRunning) {
        m_relay->terminate();
        QVERIFY(m_relay->waitForFinished(ProcessTimeout));
        QCOMPARE(m_relay->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_relay->exitCode(), 0);
    }
    m_relay.reset();
    m_radio.reset();
    m_dir.reset();
}

bool TestQ9Relay::startRelay()
{
    m_port = startListening(*m_relay, Relay, {QStringLiteral("--device"), m_device,
                                              QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
    return m_port != 0;
}

void TestQ9Relay::relaysBytesUnchanged()
{
    QVERIFY(startRelay());
    TestClient client;
    client.connectTo(m_port);
    QTRY_COMPARE_WITH_TIMEOUT(client.received, Greeting, ProcessTimeout);

    const QByteArray all = everyByteValue();
    client.send(all);
    QTRY_COMPARE_WITH_TIMEOUT(m_radio->received, all, ProcessTimeout);

    client.received.clear();
    m_radio->terminal.write(all + "##" + all);
    QTRY_COMPARE_WITH_TIMEOUT(client.received, all + "##" + all, ProcessTimeout);
    QVERIFY(!client.isClosed());
}

void TestQ9Relay::signOff()
{
    QVERIFY(startRelay());
    TestClient first;
    first.connectTo(m_port);
    QTRY_COMPARE_WITH_TIMEOUT(first.received, Greeting, ProcessTimeout);

    // A '#' at the end of one read is only half a sign-off.
    first.send("FA;#");
    QTRY_COMPARE_WITH_TIMEOUT(m_radio->received, QByteArray("FA;"), ProcessTimeout);
    first.send("MD;");
    QTRY_COMPARE_WITH_TIMEOUT(m_radio->received, QByteArray("FA;#MD;"), ProcessTimeout);
    first.send("IF;#");
    QTRY_COMPARE_WITH_TIMEOUT(m_radio->received, QByteArray("FA;#MD;IF;"), ProcessTimeout);
    first.send("#");
    QTRY_VERIFY_WITH_TIMEOUT(first.isClosed(), ProcessTimeout);

    TestClient second;
    second.connectTo(m_port);
    QTRY_COMPARE_WITH_TIMEOUT(second.received, Greeting, ProcessTimeout);
    m_radio->received.clear();
    second.send("FB;##GT;");
    QTRY_VERIFY_WITH_TIMEOUT(second.isClosed(), ProcessTimeout);

    TestClient third;
    third.connectTo(m_port);
    QTRY_COMPARE_WITH_TIMEOUT(third.received, Greeting, ProcessTimeout);
    third.send("ID;");
    QTRY_COMPARE_WITH_TIMEOUT(m_radio->received, QByteArray("FB;ID;"), ProcessTimeout);
}

void TestQ9Relay::deviceGoesAwayAndComesBack()
{
    QVERIFY(startRelay());
    TestClient client;
    client.connectTo(m_port);
    QTRY_COMPARE_WITH_TIMEOUT(client.received, Greeting, ProcessTimeout);

    QByteArray diagnostics;
    const auto relaySaid = [&](const char *text) {
        diagnostics += m_relay->readAllStandardError();
        return diagnostics.contains(text);
    };
    m_radio.reset();
    QTRY_VERIFY_WITH_TIMEOUT(relaySaid("lost"), ProcessTimeout);

    m_radio = std::make_unique<FakeRadio>(m_device);
    QTRY_VERIFY_WITH_TIMEOUT(relaySaid("is back"), ProcessTimeout);
    QVERIFY(!client.isClosed());

    client.send("FA;");
    QTRY_COMPARE_WITH_TIMEOUT(m_radio->received, QByteArray("FA;"), ProcessTimeout);
    client.received.clear();
    m_radio->terminal.write("FA00014060000;");
    QTRY_COMPARE_WITH_TIMEOUT(client.received, QByteArray("FA00014060000;"), ProcessTimeout);
}

void TestQ9Relay::startupErrors()
{
    QByteArray errors;
    QCOMPARE(runToExit(Relay, {}, &errors), 1);
    QVERIFY(errors.contains("--device"));

    const QString missing = m_dir->filePath(QStringLiteral("unplugged"));
    QCOMPARE(runToExit(Relay, {QStringLiteral("--device"), missing}, &errors), 1);
    QVERIFY2(errors.contains(missing.toLocal8Bit()), errors.constData());

    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::LocalHost));
    const QString endpoint = QStringLiteral("127.0.0.1:%1").arg(occupant.serverPort());
    QCOMPARE(runToExit(Relay, {QStringLiteral("--device"), m_device, QStringLiteral("--listen"), endpoint},
                       &errors), 1);
    QVERIFY2(errors.contains(endpoint.toLatin1()), errors.constData());
}

QTEST_GUILESS_MAIN(TestQ9Relay)
#include "tst_q9relay.moc"
