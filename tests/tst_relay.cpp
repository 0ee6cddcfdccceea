#include "programs.h"

#include "pseudo_terminal.h"
#include "relay_server.h"

#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;

// q9relay between a radio's serial port, played by a pseudo-terminal behind
// a link, and its clients on loopback; the relay server in-process where a
// test must drive its timings.
class TestRelay : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void relaysUntilTheSignOff();
    void oneClientAtATime();
    void clientsAdmittedByAddress_data();
    void clientsAdmittedByAddress();
    void vanishedClientLetGo();
    void mappedAddressesCountAsIpv4();
    void deviceGoesAwayAndComesBack();
    void deviceAwaitedAtStart();
    void startupErrors();

private:
    void plugRadio();
    quint16 startRelay(const QStringList &options = {});
    // Whether the relay has logged a line that begins with the text.
    bool logged(const QString &text);

    QTemporaryDir m_dir;
    QString m_device;
    std::unique_ptr<PseudoTerminal> m_radio;
    QByteArray m_heard;
    QProcess m_relay;
    QByteArray m_log;
};

namespace {

const QByteArray Greeting = RelayServer::Greeting.toByteArray();

QString nameOf(const TestClient &client)
{
    const QHostAddress address = client.socket.localAddress();
    const bool ipv6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    return (ipv6 ? u'[' + address.toString() + u']' : address.toString()) + u':'
        + QString::number(client.socket.localPort());
}

} // namespace

void TestRelay::init()
{
    m_device = m_dir.filePath(QStringLiteral("radio"));
    m_heard.clear();
    m_log.clear();
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

quint16 TestRelay::startRelay(const QStringList &options)
{
    return startListening(m_relay, QStringLiteral(Q9RELAY_PATH),
                          QStringList{"--device", m_device, "--listen", "127.0.0.1:0"} + options);
}

bool TestRelay::logged(const QString &text)
{
    m_log += m_relay.readAllStandardError();
    return m_log.contains("\nq9relay: " + text.toLocal8Bit())
        || m_log.startsWith("q9relay: " + text.toLocal8Bit());
}

// Every byte value passes both ways, "##" from the radio included. A "#" at
// the end of one read is only half a sign-off; what follows the sign-off
// never reaches the radio.
void TestRelay::relaysUntilTheSignOff()
{
    const quint16 port = startRelay();
    TestClient first(port);
    QTRY_COMPARE_WITH_TIMEOUT(first.received, Greeting, ProcessTimeout);
    const QString firstName = nameOf(first);
    m_radio->write(everyByteValue() + "##");
    QTRY_COMPARE_WITH_TIMEOUT(first.received, Greeting + everyByteValue() + "##", ProcessTimeout);
    first.socket.write(everyByteValue());
    QTRY_COMPARE_WITH_TIMEOUT(m_heard, everyByteValue(), ProcessTimeout);
    m_heard.clear();
    const std::pair<QByteArray, QByteArray> reads[]
        = {{"FA;#", "FA;"}, {"MD;", "FA;#MD;"}, {"IF;#", "FA;#MD;IF;"}};
    for (const auto &[chunk, heard] : reads) {
        first.socket.write(chunk);
        QTRY_COMPARE_WITH_TIMEOUT(m_heard, heard, ProcessTimeout);
    }
    first.socket.write("#");
    QTRY_VERIFY_WITH_TIMEOUT(first.isClosed(), ProcessTimeout);
    QTRY_VERIFY(logged(QStringLiteral("client %1 signed off").arg(firstName)));

    TestClient second(port);
    QTRY_COMPARE_WITH_TIMEOUT(second.received, Greeting, ProcessTimeout);
    second.socket.write("FB;##GT;");
    QTRY_VERIFY_WITH_TIMEOUT(second.isClosed(), ProcessTimeout);
    QCOMPARE(m_heard, QByteArray("FA;#MD;IF;FB;"));
}

// Another client is told, in a line no panel takes for a reply, and closed;
// once the served one has gone the next is served. Clients that reset their
// connection at once, as port scanners do, are named in the log all the same.
void TestRelay::oneClientAtATime()
{
    const quint16 port = startRelay();
    TestClient first(port);
    QTRY_COMPARE_WITH_TIMEOUT(first.received, Greeting, ProcessTimeout);
    TestClient second(port);
    QTRY_VERIFY_WITH_TIMEOUT(second.isClosed(), ProcessTimeout);
    QCOMPARE(second.received, RelayServer::BusyText.toByteArray());
    // Stopped, the relay takes them only once they have already gone.
    ::kill(pid_t(m_relay.processId()), SIGSTOP);
    QStringList scanners;
    for (int i = 0; i < 20; ++i) {
        TestClient scanner(port);
        QVERIFY(scanner.socket.waitForConnected(ProcessTimeout));
        scanners.append(nameOf(scanner));
        scanner.reset();
    }
    ::kill(pid_t(m_relay.processId()), SIGCONT);
    for (const QString &scanner : scanners)
        QTRY_VERIFY(logged(QStringLiteral("refused client %1: busy with %2").arg(scanner, nameOf(first))));
    // A client that hangs up without "##" and comes straight back is served,
    // every time: its hang-up is seen before it is judged a second client.
    first.socket.disconnectFromHost();
    for (int attempt = 0; attempt < 50; ++attempt) {
        TestClient client(port);
        QTRY_VERIFY_WITH_TIMEOUT(!client.received.isEmpty(), ProcessTimeout);
        QCOMPARE(client.received, Greeting);
        client.socket.disconnectFromHost();
    }
}

void TestRelay::clientsAdmittedByAddress_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("from");
    QTest::addColumn<bool>("served");
    const QStringList ipv6 = {"--listen", "[::1]:0"};
    // clang-format off
    QTest::newRow("listed") << QStringList{"--allow", "127.0.0.2"} << "127.0.0.2" << true;
    QTest::newRow("not listed") << QStringList{"--allow", "127.0.0.2"} << "127.0.0.1" << false;
    QTest::newRow("in a network") << QStringList{"--allow", "10.0.0.0/8, 127.0.0.0/30"} << "127.0.0.3" << true;
    QTest::newRow("beyond the network") << QStringList{"--allow", "127.0.0.0/30"} << "127.0.0.4" << false;
    QTest::newRow("loopback by default") << QStringList() << "127.0.0.5" << true;
    QTest::newRow("anyone") << QStringList{"--allow", "any"} << "127.0.0.6" << true;
    QTest::newRow("IPv6 loopback by default") << ipv6 << "::1" << true;
    QTest::newRow("IPv6 not listed") << ipv6 + QStringList{"--allow", "127.0.0.1,fd00::/8"} << "::1" << false;
    // clang-format on
}

// A client from elsewhere is closed before the greeting, and what it sent
// never reaches the radio.
void TestRelay::clientsAdmittedByAddress()
{
    QFETCH(QStringList, options);
    QFETCH(QString, from);
    QFETCH(bool, served);
    QTcpServer ipv6Probe;
    if (from.contains(u':') && !ipv6Probe.listen(QHostAddress::LocalHostIPv6))
        QSKIP("this machine has no IPv6 loopback");
    TestClient client(startRelay(options), QHostAddress(from));
    const QString name = nameOf(client);
    client.socket.write("FA;");
    const QString verdict
        = served ? QStringLiteral("accepted client %1") : QStringLiteral("refused client %1: not allowed");
    QTRY_VERIFY(logged(verdict.arg(name)));
    QTRY_COMPARE_WITH_TIMEOUT(client.received, served ? Greeting : QByteArray(), ProcessTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(m_heard, served ? QByteArray("FA;") : QByteArray(), ProcessTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(client.isClosed(), !served, ProcessTimeout);
}

// A client whose computer has gone without a word holds the radio only until
// the relay's probes find it out; then the next one is served.
void TestRelay::vanishedClientLetGo()
{
    RelayServer server;
    server.setLiveness({1s, 1s, 1, 1500ms});
    QStringList log;
    connect(&server, &RelayServer::message, &server, [&](const QString &line) { log.append(line); });
    QVERIFY(server.listen(QStringLiteral("127.0.0.1:0")));
    const quint16 port = server.endpoint().section(u':', -1).toUShort();
    TestClient silent(port);
    QTRY_COMPARE(silent.received, Greeting);
    const QString name = nameOf(silent);
    silent.vanish();
    TestClient early(port);
    QTRY_COMPARE(early.received, RelayServer::BusyText.toByteArray());
    QTRY_VERIFY_WITH_TIMEOUT(!server.hasClient(), ProcessTimeout);
    QCOMPARE(log.last(), QStringLiteral("client %1 lost: Connection timed out").arg(name));
    TestClient next(port);
    QTRY_COMPARE(next.received, Greeting);
}

// A [::] listener sees its IPv4 clients as IPv4-mapped IPv6 addresses.
void TestRelay::mappedAddressesCountAsIpv4()
{
    const auto allows = [](const char *list, const char *client) {
        return AccessList::parse(QString::fromLatin1(list))
            ->allows(QHostAddress(QString::fromLatin1(client)));
    };
    QVERIFY(allows("192.168.1.0/24", "::ffff:192.168.1.9") && !allows("192.168.1.7", "::ffff:192.168.1.8"));
    QVERIFY(AccessList().allows(QHostAddress(QStringLiteral("::ffff:127.0.0.9"))));
    QVERIFY(!AccessList().allows(QHostAddress(QStringLiteral("::ffff:10.0.0.1"))));
}

// The radio behind a port that went away has forgotten what it was told, so
// its client is closed; the next one starts afresh once the port is back.
void TestRelay::deviceGoesAwayAndComesBack()
{
    const quint16 port = startRelay();
    TestClient client(port);
    QTRY_COMPARE_WITH_TIMEOUT(client.received, Greeting, ProcessTimeout);
    const QString name = nameOf(client);
    m_radio.reset();
    QTRY_VERIFY_WITH_TIMEOUT(client.isClosed(), ProcessTimeout);
    QTRY_VERIFY(logged(m_device + QStringLiteral(" lost: ")));
    QTRY_VERIFY(logged(QStringLiteral("client %1 closed: ").arg(name)));
    plugRadio();
    QTRY_VERIFY_WITH_TIMEOUT(logged(m_device + QStringLiteral(" is back")), ProcessTimeout);
    TestClient again(port);
    again.socket.write("FA;");
    QTRY_COMPARE_WITH_TIMEOUT(m_heard, QByteArray("FA;"), ProcessTimeout);
    m_radio->write("FA00014060000;");
    QTRY_COMPARE_WITH_TIMEOUT(again.received, Greeting + "FA00014060000;", ProcessTimeout);
}

// A service started before its USB adapter is plugged in waits for it.
void TestRelay::deviceAwaitedAtStart()
{
    m_radio.reset();
    const quint16 port = startRelay();
    QVERIFY(port);
    QTRY_VERIFY(logged(QStringLiteral("waiting for %1").arg(m_device)));
    QTest::qWait(2000);
    plugRadio();
    QTRY_VERIFY_WITH_TIMEOUT(logged(m_device + QStringLiteral(" is there")), ProcessTimeout);
    TestClient client(port);
    client.socket.write("FA;");
    QTRY_COMPARE_WITH_TIMEOUT(m_heard, QByteArray("FA;"), ProcessTimeout);
}

// Something that is there but is no serial port is not waited for.
void TestRelay::startupErrors()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::LocalHost));
    const QString endpoint = QStringLiteral("127.0.0.1:%1").arg(occupant.serverPort());
    QFile plain(m_dir.filePath(QStringLiteral("plain")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    const std::pair<QStringList, QString> runs[] = {
        {{}, QStringLiteral("--device is required")},
        {{"--device", plain.fileName()}, QStringLiteral("cannot open ") + plain.fileName()},
        {{"--device", "/dev/null"}, QStringLiteral("cannot open /dev/null")},
        {{"--device", m_device, "--listen", endpoint}, QStringLiteral("cannot listen on ") + endpoint},
    };
    for (const auto &[arguments, complaint] : runs) {
        QByteArray errors;
        QCOMPARE(runToExit(QStringLiteral(Q9RELAY_PATH), arguments, &errors), 1);
        QVERIFY2(errors.startsWith("q9relay: " + complaint.toLocal8Bit()), errors.constData());
    }
}

QTEST_GUILESS_MAIN(TestRelay)
#include "tst_relay.moc"
