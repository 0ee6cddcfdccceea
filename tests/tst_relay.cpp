#include "programs.h"

#include "pseudo_terminal.h"
#include "relay_server.h"

#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// q9relay between a radio's serial port, played by a pseudo-terminal behind
// a link, and its clients on loopback.
class TestRelay : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void relaysEveryByteBothWays();
    void signOffMayBeSplit();
    void oneClientAtATime();
    void deviceGoesAwayAndComesBack();
    void startupErrors();

private:
    void plugRadio();
    quint16 startRelay();

    QTemporaryDir m_dir;
    QString m_device;
    std::unique_ptr<PseudoTerminal> m_radio;
    QByteArray m_heard;
    QProcess m_relay;
};

namespace {
const QByteArray Greeting = RelayServer::Greeting.toByteArray();
}

void TestRelay::init()
{
    m_device = m_dir.filePath(QStringLiteral("radio"));
    m_heard.clear();
    plugRadio();
}

void TestRelay::cleanup()
{
    if (m_relay.state() != QProcess::NotRunning)
        QVERIFY(stopWith(m_relay, SIGTERM));
    m_radio.reset();
}

void TestRelay::plugRadio()
{
    m_radio = std::make_unique<PseudoTerminal>();
    QVERIFY(m_radio->open() && m_radio->createLink(m_device));
    connect(m_radio.get(), &PseudoTerminal::readyRead, this, [this] { m_heard += m_radio->readAll(); });
}

quint16 TestRelay::startRelay()
{
    return startListening(m_relay, QStringLiteral(Q9RELAY_PATH),
                          {"--device", m_device, "--listen", "127.0.0.1:0"});
}

void TestRelay::relaysEveryByteBothWays()
{
    TestClient client(startRelay());
    QTRY_COMPARE_WITH_TIMEOUT(client.received, Greeting, ProcessTimeout);
    const QByteArray all = everyByteValue();
    client.socket.write(all);
    QTRY_COMPARE_WITH_TIMEOUT(m_heard, all, ProcessTimeout);
    client.received.clear();
    m_radio->write(all + "##" + all);
    QTRY_COMPARE_WITH_TIMEOUT(client.received, all + "##" + all, ProcessTimeout);
    QVERIFY(!client.isClosed());
}

// A "#" at the end of one read is only half a sign-off; what follows the
// sign-off never reaches the radio.
void TestRelay::signOffMayBeSplit()
{
    const quint16 port = startRelay();
    TestClient first(port);
    QTRY_COMPARE_WITH_TIMEOUT(first.received, Greeting, ProcessTimeout);
    const std::pair<QByteArray, QByteArray> reads[]
        = {{"FA;#", "FA;"}, {"MD;", "FA;#MD;"}, {"IF;#", "FA;#MD;IF;"}};
    for (const auto &[chunk, heard] : reads) {
        first.socket.write(chunk);
        QTRY_COMPARE_WITH_TIMEOUT(m_heard, heard, ProcessTimeout);
    }
    first.socket.write("#");
    QTRY_VERIFY_WITH_TIMEOUT(first.isClosed(), ProcessTimeout);

    TestClient second(port);
    QTRY_COMPARE_WITH_TIMEOUT(second.received, Greeting, ProcessTimeout);
    second.socket.write("FB;##GT;");
    QTRY_VERIFY_WITH_TIMEOUT(second.isClosed(), ProcessTimeout);
    QCOMPARE(m_heard, QByteArray("FA;#MD;IF;FB;"));
}

// Another client is told, in a line no panel takes for a reply, and closed;
// once the served one has gone the next is served.
void TestRelay::oneClientAtATime()
{
    const quint16 port = startRelay();
    TestClient first(port);
    QTRY_COMPARE_WITH_TIMEOUT(first.received, Greeting, ProcessTimeout);
    TestClient second(port);
    QTRY_VERIFY_WITH_TIMEOUT(second.isClosed(), ProcessTimeout);
    QCOMPARE(second.received, RelayServer::BusyText.toByteArray());
    first.socket.abort();
    TestClient third(port);
    QTRY_COMPARE_WITH_TIMEOUT(third.received, Greeting, ProcessTimeout);
}

void TestRelay::deviceGoesAwayAndComesBack()
{
    TestClient client(startRelay());
    QTRY_COMPARE_WITH_TIMEOUT(client.received, Greeting, ProcessTimeout);
    QByteArray log;
    const auto relaySaid = [&](const char *text) {
        log += m_relay.readAllStandardError();
        return log.contains(text);
    };
    m_radio.reset();
    QTRY_VERIFY_WITH_TIMEOUT(relaySaid("lost"), ProcessTimeout);
    plugRadio();
    QTRY_VERIFY_WITH_TIMEOUT(relaySaid("is back"), ProcessTimeout);
    client.socket.write("FA;");
    QTRY_COMPARE_WITH_TIMEOUT(m_heard, QByteArray("FA;"), ProcessTimeout);
    m_radio->write("FA00014060000;");
    QTRY_VERIFY_WITH_TIMEOUT(client.received.endsWith("FA00014060000;"), ProcessTimeout);
}

void TestRelay::startupErrors()
{
    QByteArray errors;
    const QString relay = QStringLiteral(Q9RELAY_PATH);
    QCOMPARE(runToExit(relay, {}, &errors), 1);
    QVERIFY2(errors.startsWith("q9relay: --device is required"), errors.constData());
    const QString missing = m_dir.filePath(QStringLiteral("unplugged"));
    QCOMPARE(runToExit(relay, {"--device", missing}, &errors), 1);
    QVERIFY2(errors.contains(missing.toLocal8Bit()), errors.constData());
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::LocalHost));
    const QString endpoint = QStringLiteral("127.0.0.1:%1").arg(occupant.serverPort());
    QCOMPARE(runToExit(relay, {"--device", m_device, "--listen", endpoint}, &errors), 1);
    QVERIFY2(errors.contains(endpoint.toLatin1()), errors.constData());
}

QTEST_GUILESS_MAIN(TestRelay)
#include "tst_relay.moc"
