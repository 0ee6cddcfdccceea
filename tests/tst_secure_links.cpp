#include "programs.h"
#include "station.h"
#include "tls_front.h"

#include "link/socket_control.h"
#include "transmitter.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QTest>

namespace {
// Each expected box is its mark (see RecordingDialogs) and words it must
// hold, separated by "|"; "%host", "%relay" and "%panel" stand for the
// relay's host:port, its key and the panel's key. Empty when the boxes
// shown are those.
QString boxesMismatch(const QStringList &shown, const QStringList &expected,
                      const QHash<QString, QString> &values)
{
    if (shown.size() != expected.size())
        return QStringLiteral("shown: ") + shown.join(u"\n");
    for (qsizetype i = 0; i < shown.size(); ++i) {
        for (QString word : expected.at(i).split(u'|')) {
            for (auto value = values.begin(); value != values.end(); ++value)
                word.replace(value.key(), value.value());
            if (!(word.endsWith(u' ') ? shown.at(i).startsWith(word) : shown.at(i).contains(word)))
                return QStringLiteral("\"%1\" not in: %2").arg(word, shown.at(i));
        }
    }
    return {};
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}
} // namespace

// Reaching the station from anywhere: the panel's own key, the relay's key
// held to the operator's pin, and the programs of the panel's computer
// riding the panel's link on its local CAT port.
class TestSecureLinks : public QObject
{
    Q_OBJECT

private slots:
    void relayKeyHeldToItsPin_data()
    {
        QTest::addColumn<QByteArray>("pinsBefore");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<bool>("panelKnown");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QByteArray>("pinsAfter");
        QTest::addColumn<bool>("linked");
        const QString firstKey = RecordingDialogs::Question + "|%host|%relay|q9relay --fingerprint";
        const QString timeout = RecordingDialogs::Warning + "|TCPiP Timeout";
        const QByteArray pinned = "%host %relay\n";
        const QByteArray otherKey = "%host SHA256:R4bmrKk7VXNN/9cyvy5XvjvTRmh7iSElCjXN4MsyAQI\n";
        // clang-format off
        QTest::newRow("first key trusted") << QByteArray() << true << true << QStringList{firstKey} << pinned << true;
        QTest::newRow("first key not trusted") << QByteArray() << false << true
            << QStringList{firstKey, "Not linked to %host"} << QByteArray("<none>") << false;
        QTest::newRow("pinned key") << pinned << false << true << QStringList() << pinned << true;
        QTest::newRow("only another relay pinned") << QByteArray("shack:2300 %relay") << true << true
            << QStringList{firstKey} << "shack:2300 %relay\n" + pinned << true;
        QTest::newRow("changed key") << otherKey << false << true
            << QStringList{RecordingDialogs::Warning + "|%host|Pinned: SHA256:R4bm|Presented: %relay|remove the line"}
            << otherKey << false;
        // The relay closes while the operator compares its key.
        QTest::newRow("panel's key unknown to the relay") << QByteArray() << true << false
            << QStringList{firstKey, "did not accept this panel's key|%panel", timeout} << pinned << false;
        // clang-format on
    }

    // A secure address: the relay's key is checked against the pin for its
    // host and port before anything is sent. A first key is shown to be
    // compared and pinned, or not trusted; a pinned one links silently;
    // another is refused with both keys and how to re-pin. A relay that
    // closes on the panel's key meanwhile is told once the question is
    // answered, with the panel's key.
    void relayKeyHeldToItsPin()
    {
        QFETCH(QByteArray, pinsBefore);
        QFETCH(bool, trusted);
        QFETCH(bool, panelKnown);
        QFETCH(QStringList, boxes);
        QFETCH(QByteArray, pinsAfter);
        QFETCH(bool, linked);
        Station station;
        station.startRelay(loopbackAddress());
        TlsFront front(station.path(QStringLiteral("relay-key.pem")), station.relay()->endpoint());
        const QString address = loopbackAddress();
        QVERIFY(front.listen(QHostAddress(address), 2300));
        const QString panelKey
            = Identity::loadOrCreate(station.path(QStringLiteral("q9remote-key.pem")), {}, nullptr)
                  ->fingerprint();
        front.operators = {panelKnown ? panelKey : front.identity.fingerprint()};
        const QHash<QString, QString> values{
            {"%host", address + ":2300"}, {"%relay", front.identity.fingerprint()}, {"%panel", panelKey}};
        const auto filled = [&values](QByteArray text) {
            for (auto value = values.begin(); value != values.end(); ++value)
                text.replace(value.key().toLatin1(), value.value().toLatin1());
            return text;
        };
        const QString pins = station.path(QStringLiteral("q9remote-relays"));
        if (!pinsBefore.isEmpty()) {
            QFile file(pins);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(filled(pinsBefore)));
        }
        station.dialogs.questionAnswers = {trusted};
        station.start();
        FIND_CONTROL(SocketControl, link, station, "tcpClient");
        bool closedWhileAsked = true;
        if (!panelKnown)
            station.dialogs.whileMessageOpen
                = [&] { closedWhileAsked = QTest::qWaitFor([link] { return link->isClosed(); }); };
        PERFORM(station, "answer tls:" + address + "|trigger Set_Host_Addr");
        const QString mismatch = boxesMismatch(station.dialogs.messages, boxes, values);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
        QVERIFY(closedWhileAsked);
        QCOMPARE(station.dialogs.deepestNesting, boxes.isEmpty() ? 0 : 1);
        QCOMPARE(contentsOf(pins), filled(pinsAfter));
        if (linked)
            QCOMPARE(front.panelKeys, QStringList{panelKey});
        COMPARE_SHOWS(station, linked ? "Server_Conn=Q9 Server Linked" : "Server_Conn=hidden");
        if (!linked)
            QTRY_COMPARE(front.panelsLinked, 0);
        QTRY_COMPARE(front.heard, linked ? Linked : QByteArray());
    }

    // The panel's key pair is made on first use, readable by its owner
    // alone, and kept: shown, and copied, the same in a later run. The
    // settings file keeps its five fields.
    void panelKeyMadeOnceAndShown()
    {
        Station station;
        PERFORM(station, QStringLiteral("trigger panel_key"));
        const QString path = station.path(QStringLiteral("q9remote-key.pem"));
        QCOMPARE(QFile::permissions(path),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        const QString key = Identity::loadOrCreate(path, {}, nullptr)->fingerprint();
        QCOMPARE(QGuiApplication::clipboard()->text(), key);
        QGuiApplication::clipboard()->clear();
        station.start();
        PERFORM(station, QStringLiteral("trigger panel_key|trigger exit_cmd"));
        QCOMPARE(QGuiApplication::clipboard()->text(), key);
        QCOMPARE(station.dialogs.messages.size(), 2);
        for (const QString &box : std::as_const(station.dialogs.messages))
            QVERIFY2(box.contains(key), qPrintable(box));
        QCOMPARE(station.settings().count(','), 4);
    }

    void localCatPort_data()
    {
        QTest::addColumn<bool>("secure");
        QTest::newRow("plain") << false;
        QTest::newRow("tls") << true;
    }

    // Hamlib on the panel's computer reaches the radio through the panel's
    // link: before the panel links it is turned away at once, and told so
    // in the debug console; then it reads and sets the frequency, never
    // hearing the relay's greetings, and signs off when it goes. A relay
    // with another key than the panel's link found is not used. A program
    // is closed when its relay connection ends. The port is opened again
    // at the next start.
    void localCatPort()
    {
        QFETCH(bool, secure);
        Station station;
        const QString relayAddress = loopbackAddress();
        station.startRelay(relayAddress);
        QString address = relayAddress;
        std::unique_ptr<TlsFront> front;
        if (secure) {
            front = std::make_unique<TlsFront>(station.path(QStringLiteral("relay-key.pem")),
                                               station.relay()->endpoint());
            address = loopbackAddress();
            QVERIFY(front->listen(QHostAddress(address), 2300));
            station.dialogs.questionAnswers = {true};
            address = "tls:" + address;
        }
        const QString port = QString::number(freePort());
        PERFORM(station, "trigger debug_on|answer " + port + "|trigger cat_port");
        TestClient early(port.toUShort());
        QTRY_VERIFY(early.isClosed());
        QVERIFY(
            station.shows(QStringLiteral("Text1=")).contains(u"turned away: the panel has no server link"));

        PERFORM(station, "link server " + address);
        QProcess rigctl;
        rigctl.start(QStringLiteral("rigctl"),
                     {"-m", "2014", "-r", "127.0.0.1:" + port, "f", "F", "7040000", "f"});
        QTRY_VERIFY_WITH_TIMEOUT(rigctl.state() == QProcess::NotRunning, ProcessTimeout);
        QCOMPARE(rigctl.readAllStandardOutput(), QByteArray("14060000\n7040000\n"));
        TRY_COMPARE_SHOWS(station, "vfoa_edbox=07040.00");
        QTRY_COMPARE(station.relayLog.filter(QStringLiteral("signed off")).size(), 1);

        TestClient program(port.toUShort(),
                           hasIpv6Loopback() ? QHostAddress(QHostAddress::LocalHostIPv6) : QHostAddress());
        program.socket.write("FA;");
        QTRY_COMPARE(program.received, QByteArray("FA00007040000;"));
        // The panel renews the relay's lease for a program that keys, until
        // it unkeys.
        program.socket.write("TX;");
        QTRY_VERIFY(station.radio.state().transmitting);
        QTest::qWait(3 * Transmitter::Lease.count());
        QVERIFY(station.radio.state().transmitting);
        program.socket.write("RX;");
        QTRY_VERIFY(!station.radio.state().transmitting);
        if (front) {
            front->sendToPanels("!!Q9 relay ready;");
            program.socket.write("FA;");
            QTRY_COMPARE(program.received, QByteArray("FA00007040000;FA00007040000;"));
            // Another key than the panel's link was taken with cuts a
            // program off before it is heard.
            front->identity
                = *Identity::loadOrCreate(station.path(QStringLiteral("other-key.pem")), {}, nullptr);
            const QByteArray heard = front->heard;
            TestClient cutOff(port.toUShort());
            cutOff.socket.write("FA;");
            QTRY_VERIFY(cutOff.isClosed());
            QCOMPARE(front->heard, heard);
            QVERIFY(
                station.shows(QStringLiteral("Text1=")).contains(u"cut off: the relay presented the key"));
        }
        station.stopRelay();
        QTRY_VERIFY(program.isClosed());
        QCOMPARE(station.dialogs.messages.size(), secure ? 2 : 1);

        station.start();
        TestClient late(port.toUShort());
        QTRY_VERIFY(late.isClosed());
        PERFORM(station, QStringLiteral("trigger cat_port|trigger cat_port"));
        QCOMPARE(station.dialogs.inputs.last(),
                 "Port for CAT programs on this computer (127.0.0.1 and ::1)|Local CAT Port|" + port);
    }
};

QTEST_MAIN(TestSecureLinks)
#include "tst_secure_links.moc"
