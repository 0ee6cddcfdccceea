#include "panel_fixture.h"
#include "recording_relay.h"
#include "sim_relay.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {
const QByteArray StartUpQuery = "RA;FA;FB;FR;FT;PA;SQ;KS;GT;FW;PC;NB;IF;";
const QString Timeout = QStringLiteral(
    "TCPiP Timeout - R9Ezuziz not found. Check iP address and make sure R9Ezuziz is running.");
const QString ErrorTail = QStringLiteral("\r\nConnect to Host First (With Correct iP address)");

void chooseServer(PanelFixture &fixture, const QString &address)
{
    fixture.dialogs.inputAnswers = {address};
    fixture.control<QAction>("Set_Host_Addr")->trigger();
}

} // namespace

// The server link against the simulated radio behind the relay server on a
// loopback address of its own.
class TestServerConnection : public QObject
{
    Q_OBJECT

private slots:
    void connectGreetsProbesAndQueries();
    void serverThatNeverGreetsTimesOut();
    void refusedAndEmptyAddressesReachTheTimeout();
    void switchingFromSerialSendsNoReleaseToTheRadio();
    void releaseSignsOffAfterTheLastSend();
    void silentRadioKeepsTheServerLinked();
    void releaseAfterTheRelayHasGone();
};

void TestServerConnection::connectGreetsProbesAndQueries()
{
    SimRelay relay;
    QVERIFY(relay.listen(QStringLiteral("127.0.0.41:2300")));
    PanelFixture fixture;
    fixture.writeSettings("2,\"127.0.0.41\",\"+8\",#TRUE#,#TRUE#\r\n");
    PtyPair unused;
    fixture.linkPort(2, unused.slavePath());
    fixture.start();
    fixture.dialogs.inputAnswers = {QStringLiteral("127.0.0.41")};
    fixture.dialogs.messages.clear();
    fixture.control<QAction>("Set_Host_Addr")->trigger();

    QCOMPARE(fixture.dialogs.inputs.last().prompt, QStringLiteral("Enter Q9 Remote Server iP Address if needed"));
    QCOMPARE(fixture.dialogs.inputs.last().title, QStringLiteral("Host iP"));
    QCOMPARE(fixture.dialogs.inputs.last().proposed, QStringLiteral("127.0.0.41"));
    QTRY_COMPARE(relay.heard, "id;q92;q9;" + StartUpQuery + "AI2;");
    QVERIFY(fixture.dialogs.messages.isEmpty());
    QVERIFY(fixture.globals().ServerConnected);
    QVERIFY(fixture.globals().RadioPresent);
    QVERIFY(fixture.globals().LinkIsTcp);
    QVERIFY(!fixture.globals().LinkIsSerial);
    QVERIFY(!fixture.control<QLabel>("Server_Conn")->isHidden());
    QVERIFY(!fixture.control<QLabel>("Q9_present_ind")->isHidden());
    // Choosing the server turns auto-connect off and unchecks every port.
    QVERIFY(!fixture.globals().AutoConnect);
    QVERIFY(!fixture.control<QAction>("Auto_comm_con")->isChecked());
    for (int n = 1; n <= 10; ++n)
        QVERIFY(!fixture.panel().findChild<QAction *>(QStringLiteral("Setcomm%1").arg(n))->isChecked());
    QTRY_COMPARE(fixture.control<QLineEdit>("vfoa_edbox")->text(), QStringLiteral("14060.00"));
    // The greeting replaced the debug window; the radio's replies follow it.
    QVERIFY(fixture.control<QPlainTextEdit>("Text1")->toPlainText().startsWith(QStringLiteral("R9Ezuziz Connected")));

    // The typed address is kept and saved at exit, after the release.
    fixture.control<QAction>("exit_cmd")->trigger();
    QVERIFY(fixture.readSettings().startsWith("2,\"127.0.0.41\",\"+8\",#FALSE#,#TRUE#"));
    QTRY_VERIFY(!relay.server.hasClient());
}

void TestServerConnection::serverThatNeverGreetsTimesOut()
{
    RecordingRelay mute(QStringLiteral("127.0.0.42"), false);
    PanelFixture fixture;
    fixture.start();
    chooseServer(fixture, QStringLiteral("127.0.0.42"));
    QCOMPARE(fixture.dialogs.messageTexts(), QStringList{Timeout});
    QCOMPARE(fixture.dialogs.messages.first().icon, Dialogs::Icon::Warning);
    QVERIFY(!fixture.globals().LinkIsTcp);
    QVERIFY(!fixture.globals().LinkIsSerial);
    QVERIFY(fixture.control<QLabel>("Server_Conn")->isHidden());
    QTRY_VERIFY(mute.closedByPanel());
    // Only the connection was attempted: no probe before the greeting.
    QCOMPARE(mute.received, QByteArray());
}

void TestServerConnection::refusedAndEmptyAddressesReachTheTimeout()
{
    PanelFixture fixture;
    fixture.start();
    // Nobody listens on this address: the error box, then the timeout.
    chooseServer(fixture, QStringLiteral("127.0.0.43"));
    QCOMPARE(fixture.dialogs.messages.size(), 2);
    QVERIFY(fixture.dialogs.messages.first().text.endsWith(ErrorTail));
    QVERIFY(fixture.dialogs.messages.first().text.size() > ErrorTail.size());
    QCOMPARE(fixture.dialogs.messages.first().icon, Dialogs::Icon::None);
    QCOMPARE(fixture.dialogs.messages.last().text, Timeout);

    // A cancelled box leaves an empty address, which is kept.
    fixture.dialogs.messages.clear();
    fixture.dialogs.inputAnswers.clear();
    fixture.control<QAction>("Set_Host_Addr")->trigger();
    QCOMPARE(fixture.dialogs.messages.last().text, Timeout);
    QCOMPARE(fixture.globals().HostAddress, QString());
    QVERIFY(!fixture.globals().LinkIsTcp);
}

void TestServerConnection::switchingFromSerialSendsNoReleaseToTheRadio()
{
    SimRadio radio;
    PtyPair port;
    port.answerWith(radio);
    PanelFixture fixture;
    fixture.start();
    fixture.connectSerial(port);

    // The radio on the serial port, never told to stop reporting, goes on
    // talking while a slow relay takes its time to greet: that must neither
    // end the server's waits nor reach the panel.
    RecordingRelay relay(QStringLiteral("127.0.0.44"), false);
    QTimer chatter;
    connect(&chatter, &QTimer::timeout, &port, [&port] { port.write("FA00007000000;"); });
    chatter.start(2);
    QTimer::singleShot(300, &relay, [&relay] {
        if (relay.client)
            relay.client->write("!!relay;");
    });
    chooseServer(fixture, QStringLiteral("127.0.0.44"));
    chatter.stop();
    QVERIFY(fixture.dialogs.messages.isEmpty());
    QVERIFY(fixture.globals().RadioPresent);
    QTRY_VERIFY(relay.received.endsWith("AI2;"));
    QVERIFY(fixture.control<QLineEdit>("vfoa_edbox")->text() != QStringLiteral("07000.00"));
    QCOMPARE(port.received, QByteArray());

    // A second attempt with the server gone: the earlier greeting does not count.
    relay.close();
    chooseServer(fixture, QStringLiteral("127.0.0.44"));
    QCOMPARE(fixture.dialogs.messages.last().text, Timeout);
    QVERIFY(!fixture.globals().ServerConnected);
}

void TestServerConnection::releaseSignsOffAfterTheLastSend()
{
    RecordingRelay relay(QStringLiteral("127.0.0.46"));
    PanelFixture fixture;
    fixture.start();
    chooseServer(fixture, QStringLiteral("127.0.0.46"));
    QVERIFY(fixture.globals().RadioPresent);
    QTRY_VERIFY(relay.received.endsWith("AI2;"));
    relay.received.clear();

    fixture.control<QAction>("exit_cmd")->trigger();
    // By the time the exit returns the sign-off has left and the socket is closed.
    QTRY_COMPARE(relay.received, QByteArray("AI0;##"));
    QTRY_VERIFY(relay.closedByPanel());
    QVERIFY(fixture.dialogs.messages.isEmpty());
}

void TestServerConnection::silentRadioKeepsTheServerLinked()
{
    SimRelay relay;
    relay.radio.setProbeAnswer(SimRadio::ProbeAnswer::Never);
    QVERIFY(relay.listen(QStringLiteral("127.0.0.47:2300")));
    PanelFixture fixture;
    fixture.start();
    chooseServer(fixture, QStringLiteral("127.0.0.47"));
    QCOMPARE(fixture.dialogs.messageTexts(),
             QStringList{QStringLiteral("Q9 is not responding. Please check radio power and Host RS232 Comm port.")});
    QVERIFY(fixture.globals().LinkIsTcp);
    QVERIFY(!fixture.control<QLabel>("Server_Conn")->isHidden());
    QVERIFY(relay.server.hasClient());
    QCOMPARE(relay.heard, QByteArray("id;q92;q9;q9;"));

    // Released without a radio: only the sign-off, then the relay drops us.
    fixture.control<QAction>("exit_cmd")->trigger();
    QTRY_VERIFY(!relay.server.hasClient());
    QCOMPARE(relay.heard, QByteArray("id;q92;q9;q9;"));
    QVERIFY(fixture.control<QLabel>("Server_Conn")->isHidden());
}

void TestServerConnection::releaseAfterTheRelayHasGone()
{
    RecordingRelay relay(QStringLiteral("127.0.0.48"));
    PanelFixture fixture;
    fixture.start();
    chooseServer(fixture, QStringLiteral("127.0.0.48"));
    QVERIFY(fixture.globals().RadioPresent);
    relay.client->disconnectFromHost();
    QTRY_COMPARE(fixture.dialogs.messages.size(), 1);
    QVERIFY(fixture.dialogs.messages.first().text.endsWith(ErrorTail));

    // Each failed send of the release is reported, and the exit goes on.
    fixture.control<QAction>("exit_cmd")->trigger();
    const QString failure = QStringLiteral("TCP/IP Communication Error - No Host!\r\nMake sure to connect to Host First");
    QCOMPARE(fixture.dialogs.messageTexts().mid(1), QStringList({failure, failure}));
    QVERIFY(fixture.readSettings().startsWith("1,\"127.0.0.48\""));
}

QTEST_MAIN(TestServerConnection)
#include "tst_server_connection.moc"
