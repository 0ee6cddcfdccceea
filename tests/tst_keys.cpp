#include "programs.h"
#include "radio_on_port.h"

#include "handshakes.h"
#include "identity.h"
#include "relay_server.h"
#include "serial_link.h"

#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <sys/stat.h>

#include <memory>

using namespace std::chrono_literals;

namespace {

const QByteArray Greeting = "!!Q9 relay ready tx=180;";

// Keys made by the test, one per operator, in a folder of its own.
struct Keys
{
    const Identity &operator[](const QString &who)
    {
        auto &key = made[who];
        if (!key)
            key = std::make_unique<Identity>(
                *Identity::loadOrCreate(dir.filePath(who + QStringLiteral(".pem")), who, nullptr));
        return *key;
    }
    QTemporaryDir dir;
    std::map<QString, std::unique_ptr<Identity>> made;
};

// The simulated radio on its serial port behind an in-process relay whose
// panel and CAT ports are secure, with its key and operators file in a
// folder of their own.
struct SecureRadio
{
    SecureRadio()
    {
        QObject::connect(&server, &RelayServer::message, &server,
                         [this](const QString &line) { log += line; });
        if (!link.start() || !server.useKeys(state.filePath(QStringLiteral("key.pem")), operatorsFile())
            || !server.listen(QStringLiteral("tls:127.0.0.1:0"))
            || !server.listen(QStringLiteral("tls:127.0.0.1:0"), Session::Protocol::Cat))
            qFatal("cannot serve: %s", qPrintable(server.errorString()));
        server.takeRadio();
    }
    QString operatorsFile() const { return state.filePath(QStringLiteral("operators")); }
    // Written as an editor does: a new file in the old one's place.
    void writeOperators(const QString &lines)
    {
        QSaveFile file(operatorsFile());
        if (!file.open(QIODevice::WriteOnly) || file.write(lines.toUtf8()) < 0 || !file.commit())
            qFatal("cannot write the operators");
    }
    quint16 port(Session::Protocol protocol = Session::Protocol::Panel) const
    {
        return server.endpoint(protocol).section(u':', -1).toUShort();
    }

    QTemporaryDir state;
    RadioOnPort radio;
    SerialLink link{radio.port.slavePath()};
    RelayServer server{link};
    QStringList log;
};

QString operatorLine(const Identity &key, const QString &role, const QString &name)
{
    return QStringLiteral("%1 %2 %3\n").arg(key.fingerprint(), role, name);
}

// Everything sent before it has been dealt with once the answer to its
// "ID;" has come.
void settle(TestClient &client)
{
    const qsizetype answers = client.received.count("ID900;");
    client.socket.write("ID;");
    QTRY_COMPARE_WITH_TIMEOUT(client.received.count("ID900;"), answers + 1, ProcessTimeout);
}

} // namespace

// The relay's secure links: only the station's operators' keys reach the
// radio, each as far as its role allows, over TLS made with keys the test
// makes; the relay's key and the panel's keys kept privately.
class TestKeys : public QObject
{
    Q_OBJECT

private slots:
    void keysKeptPrivately()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("state/key.pem"));
        const auto made = Identity::loadOrCreate(path, QStringLiteral("test"), nullptr);
        QVERIFY(made);
        struct stat status
        { };
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &status), 0);
        QCOMPARE(status.st_mode & 0777, 0600u);
        const auto again = Identity::loadOrCreate(path, QStringLiteral("test"), nullptr);
        QCOMPARE(again->fingerprint(), made->fingerprint());
        QVERIFY(Identity::isFingerprint(made->fingerprint()));
        QVERIFY(
            made->fingerprint()
            != Identity::loadOrCreate(dir.filePath(QStringLiteral("other.pem")), {}, nullptr)->fingerprint());
        QFile broken(dir.filePath(QStringLiteral("broken.pem")));
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("not a key") > 0);
        broken.close();
        QString problem;
        QVERIFY(!Identity::loadOrCreate(broken.fileName(), {}, &problem));
        QVERIFY2(problem.contains(broken.fileName()), qPrintable(problem));
    }

    void operatorsFileRead_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("read");
        QTest::addColumn<int>("problems");
        const QString a = QStringLiteral("SHA256:") + QString(43, u'A');
        const QString b = QStringLiteral("SHA256:") + QString(42, u'b') + u'/';
        QTest::newRow("names with blanks, comments")
            << a + QStringLiteral(" transmit Ann Smith, G4AAA  # home\n\n# the club\n") + b
                + QStringLiteral(" listen  Bob\n")
            << QStringLiteral("Ann Smith, G4AAA=transmit|Bob=listen") << 0;
        QTest::newRow("bad lines skipped") << a + QStringLiteral(" admin Ann\n") + b
                + QStringLiteral(" operate\nSHA256:short operate Cy\n") + b + QStringLiteral(" operate Bob")
                                           << QStringLiteral("Bob=operate") << 3;
    }

    void operatorsFileRead()
    {
        QFETCH(QString, text);
        QFETCH(QString, read);
        QFETCH(int, problems);
        QStringList told;
        const auto operators = Operators::parse(text, &told);
        QStringList found;
        for (const Operator &known : operators)
            found.append(known.name + u'=' + nameOf(known.role));
        found.sort();
        QCOMPARE(found.join(u'|'), read);
        QCOMPARE(told.size(), problems);
    }

    // A client without an operator's key hears nothing of the radio, not
    // even the greeting, and the radio hears nothing of it; the log names
    // its key.
    void strangersGetNothing_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("unknown key") << 0;
        QTest::newRow("no key") << 1;
        QTest::newRow("in clear") << 2;
    }

    void strangersGetNothing()
    {
        QFETCH(int, kind);
        Keys keys;
        SecureRadio secure;
        secure.writeOperators(
            operatorLine(keys[QStringLiteral("ann")], QStringLiteral("transmit"), QStringLiteral("Ann")));
        QTRY_VERIFY(secure.log.join(u'\n').contains(QStringLiteral("1 operators")));
        for (const auto protocol : {Session::Protocol::Panel, Session::Protocol::Cat}) {
            std::unique_ptr<TestClient> stranger;
            if (kind == 0) {
                stranger = std::make_unique<TestClient>(secure.port(protocol), QHostAddress(),
                                                        &keys[QStringLiteral("eve")]);
            } else {
                stranger = std::make_unique<TestClient>(secure.port(protocol));
                if (kind == 1) {
                    QSslConfiguration anonymous = keys[QStringLiteral("eve")].tlsConfiguration();
                    anonymous.setLocalCertificate(QSslCertificate());
                    anonymous.setPrivateKey(QSslKey());
                    stranger->socket.abort();
                    stranger->socket.setSslConfiguration(anonymous);
                    stranger->socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"),
                                                            secure.port(protocol));
                }
            }
            QObject::connect(&stranger->socket, &QAbstractSocket::connected, &stranger->socket,
                             [&stranger] { stranger->socket.write("SW20;FA7000000;"); });
            if (kind != 2)
                QObject::connect(&stranger->socket, &QSslSocket::encrypted, &stranger->socket,
                                 [&stranger] { stranger->socket.write("SW20;FA7000000;"); });
            QTRY_VERIFY_WITH_TIMEOUT(stranger->isClosed(), ProcessTimeout);
            QCOMPARE(stranger->received, QByteArray());
        }
        QCOMPARE(secure.radio.heard.count("SW20;"), 0);
        QCOMPARE(secure.radio.heard.count("FA7000000;"), 0);
        QCOMPARE(secure.server.clientCount(), 0);
        if (kind == 0)
            QVERIFY2(secure.log.join(u'\n').contains(keys[QStringLiteral("eve")].fingerprint()
                                                     + QStringLiteral(" is not an operator's")),
                     qPrintable(secure.log.join(u'\n')));
    }

    // Every role asks what it likes; listeners change nothing, operators do
    // not key, and a refused command answers "?;" to its sender in turn,
    // with the operator's name in the log.
    void rolesAllowAndRefuse_data()
    {
        QTest::addColumn<QString>("role");
        QTest::addColumn<QByteArray>("commands");
        QTest::addColumn<QByteArray>("answers");
        QTest::addColumn<QByteArray>("heard");
        QTest::newRow("listen asks") << "listen" << QByteArray("FA;SM0;MD;")
                                     << QByteArray("FA00014060000;?;MD2;") << QByteArray("FA;SM0;MD;");
        QTest::newRow("listen changes nothing") << "listen" << QByteArray("FA7000000;SW04;AI2;FA;")
                                                << QByteArray("?;?;FA00014060000;") << QByteArray("FA;");
        QTest::newRow("listen: no tune carrier")
            << "listen" << QByteArray("SW20;") << QByteArray("?;") << QByteArray();
        QTest::newRow("operate tunes") << "operate" << QByteArray("FA7000000;FA;")
                                       << QByteArray("FA00007000000;") << QByteArray("FA7000000;FA;");
        QTest::newRow("operate: no tune carrier, no CW")
            << "operate" << QByteArray("SW20;KY CQ;TX;RA01;RA;") << QByteArray("?;?;?;RA01;")
            << QByteArray("RA01;RA;");
        QTest::newRow("transmit keys")
            << "transmit" << QByteArray("SW20;IF;") << QByteArray("IF00014060000     +000000 0012000001 ;")
            << QByteArray("SW20;IF;");
    }

    void rolesAllowAndRefuse()
    {
        QFETCH(QString, role);
        QFETCH(QByteArray, commands);
        QFETCH(QByteArray, answers);
        QFETCH(QByteArray, heard);
        Keys keys;
        SecureRadio secure;
        secure.writeOperators(operatorLine(keys[QStringLiteral("ann")], role, QStringLiteral("Ann G4AAA")));
        QTRY_VERIFY(secure.log.join(u'\n').contains(QStringLiteral("1 operators")));
        TestClient panel(secure.port(), {}, &keys[QStringLiteral("ann")]);
        QTRY_COMPARE_WITH_TIMEOUT(panel.received, Greeting, ProcessTimeout);
        secure.radio.heard.clear();
        panel.received.clear();
        panel.socket.write(commands);
        settle(panel);
        QCOMPARE(panel.received, answers + "ID900;");
        QCOMPARE(QByteArray(secure.radio.heard).replace("AI;", "").replace("ID;", ""), heard);
        if (answers.contains("?;") && role != u"listen")
            QVERIFY2(secure.log.join(u'\n').contains(
                         QStringLiteral("(Ann G4AAA), whose role is %1, may not send \"SW20;\"").arg(role)),
                     qPrintable(secure.log.join(u'\n')));
    }

    // The operators file is read again when it changes: a key taken off is
    // cut off at once, panel and CAT program alike, and a role changed
    // takes effect on the link as it is; the others stay.
    void operatorsFileChangesTakeEffect()
    {
        Keys keys;
        SecureRadio secure;
        const QString ann
            = operatorLine(keys[QStringLiteral("ann")], QStringLiteral("operate"), QStringLiteral("Ann"));
        const QString bob
            = operatorLine(keys[QStringLiteral("bob")], QStringLiteral("listen"), QStringLiteral("Bob"));
        secure.writeOperators(ann + bob);
        QTRY_VERIFY(secure.log.join(u'\n').contains(QStringLiteral("2 operators")));
        TestClient annPanel(secure.port(), {}, &keys[QStringLiteral("ann")]);
        TestClient annCat(secure.port(Session::Protocol::Cat), {}, &keys[QStringLiteral("ann")]);
        TestClient bobPanel(secure.port(), {}, &keys[QStringLiteral("bob")]);
        QTRY_COMPARE_WITH_TIMEOUT(bobPanel.received, Greeting, ProcessTimeout);
        settle(annCat);
        secure.writeOperators(
            operatorLine(keys[QStringLiteral("bob")], QStringLiteral("operate"), QStringLiteral("Bob")));
        QTRY_VERIFY_WITH_TIMEOUT(annPanel.isClosed() && annCat.isClosed(), ProcessTimeout);
        bobPanel.received.clear();
        bobPanel.socket.write("FA7000000;FA;");
        settle(bobPanel);
        QCOMPARE(bobPanel.received, QByteArray("FA00007000000;ID900;"));
        QVERIFY(secure.log.join(u'\n').contains(QStringLiteral("is no longer an operator's")));
    }

    // Clients from an allowed address that open a handshake and never
    // finish it, hundreds at once, neither keep a known operator out nor
    // hold more than a few descriptors each of the relay's.
    void slowHandshakesKeepNoOperatorOut()
    {
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        Keys keys;
        SecureRadio secure;
        secure.writeOperators(
            operatorLine(keys[QStringLiteral("ann")], QStringLiteral("transmit"), QStringLiteral("Ann")));
        QTRY_VERIFY(secure.log.join(u'\n').contains(QStringLiteral("1 operators")));
        std::vector<std::unique_ptr<QTcpSocket>> slow;
        const auto flood = [&](int count) {
            for (int i = 0; i < count; ++i) {
                auto socket = std::make_unique<QTcpSocket>();
                // Half say nothing; half begin a hello and never end it.
                if (i % 2)
                    QObject::connect(socket.get(), &QTcpSocket::connected, socket.get(),
                                     [s = socket.get()] { s->write("\x16\x03\x01\x02"); });
                socket->connectToHost(QHostAddress::LocalHost, secure.port());
                slow.push_back(std::move(socket));
            }
        };
        flood(250);
        QTRY_VERIFY_WITH_TIMEOUT(
            std::count_if(slow.begin(), slow.end(),
                          [](const auto &s) { return s->state() == QAbstractSocket::ConnectedState; })
                > 0,
            ProcessTimeout);
        TestClient ann(secure.port(), {}, &keys[QStringLiteral("ann")]);
        flood(250);
        QTRY_COMPARE_WITH_TIMEOUT(ann.received, Greeting, ProcessTimeout);
        ann.socket.write("FA7000000;FA;");
        settle(ann);
        QVERIFY(ann.received.contains("FA00007000000;"));
        QVERIFY(secure.server.pendingHandshakes() <= Handshakes::MaxWaiting + Handshakes::MaxShaking);
        QTRY_VERIFY_WITH_TIMEOUT(secure.log.join(u'\n').contains(QStringLiteral("handshakes given up")),
                                 ProcessTimeout);
    }
};

QTEST_GUILESS_MAIN(TestKeys)
#include "tst_keys.moc"
