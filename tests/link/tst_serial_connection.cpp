#include "panel_fixture.h"
#include "sim_radio.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

namespace {
const QByteArray StartUpQuery = "RA;FA;FB;FR;FT;PA;SQ;KS;GT;FW;PC;NB;IF;";
const QString NotResponding =
    QStringLiteral("Q9 is not responding. Please check radio power and RS232 Comm port.");
const QString PortInvalid = QStringLiteral("Comm Port in use or invalid. Please chose another port");
// Starts the panel and chooses Comm1, which leads to the radio's port.
void startOnComm1(PanelFixture &fixture, const PtyPair &port)
{
    fixture.linkPort(1, port.slavePath());
    fixture.start();
    fixture.control<QAction>("Setcomm1")->trigger();
}
} // namespace

// The serial link against the simulated radio on a real pseudo-terminal.
class TestSerialConnection : public QObject
{
    Q_OBJECT

private slots:
    void connectProbesQueriesAndFillsThePanel();
    void radioAnsweringOnlyTheSecondProbe();
    void silentRadioGivesUpAndClosesThePort();
    void missingPortIsReportedAndNothingSent();
    void choosingThePortInUseStartsAfresh();
    void autoConnectAtStartUp();
};

void TestSerialConnection::connectProbesQueriesAndFillsThePanel()
{
    SimRadio radio;
    radio.setVfoA(7'074'000);
    PtyPair port;
    port.answerWith(radio);
    PanelFixture fixture;
    startOnComm1(fixture, port);

    // The radio answers the first probe, so the second is never sent.
    QTRY_COMPARE(port.received, "id;q92;q9;" + StartUpQuery + "AI2;");
    QVERIFY(fixture.dialogs.messages.isEmpty());
    QVERIFY(fixture.globals().RadioPresent);
    QVERIFY(fixture.globals().LinkIsSerial);
    QVERIFY(!fixture.globals().LinkIsTcp);
    QVERIFY(fixture.control<QAction>("Setcomm1")->isChecked());
    QVERIFY(!fixture.control<QLabel>("Q9_present_ind")->isHidden());
    QTRY_COMPARE(fixture.control<QLineEdit>("vfoa_edbox")->text(), QStringLiteral("07074.00"));
    QCOMPARE(fixture.control<QLineEdit>("vfob_edbox")->text(), QStringLiteral("07030.00"));
    QCOMPARE(fixture.control<QLineEdit>("fil_bw")->text(), QStringLiteral("FL1/2500"));
    QCOMPARE(fixture.control<QLabel>("PWR")->text(), QStringLiteral("10.0W"));
    QCOMPARE(fixture.control<QLineEdit>("rit_box")->text(), QStringLiteral(" 0.00"));

    // In its reporting mode the radio's own changes reach the panel unasked.
    radio.receive("UP4;UP4;");
    QTRY_COMPARE(fixture.control<QLineEdit>("vfoa_edbox")->text(), QStringLiteral("07076.00"));
}

void TestSerialConnection::radioAnsweringOnlyTheSecondProbe()
{
    SimRadio radio;
    radio.setProbeAnswer(SimRadio::ProbeAnswer::AfterFirst);
    PtyPair port;
    port.answerWith(radio);
    PanelFixture fixture;
    startOnComm1(fixture, port);
    QTRY_COMPARE(port.received, "id;q92;q9;q9;" + StartUpQuery + "AI2;");
    QVERIFY(fixture.globals().RadioPresent);
    QVERIFY(fixture.dialogs.messages.isEmpty());
}

void TestSerialConnection::silentRadioGivesUpAndClosesThePort()
{
    SimRadio radio;
    radio.setSilent(true);
    PtyPair port;
    port.answerWith(radio);
    PanelFixture fixture;
    startOnComm1(fixture, port);
    QCOMPARE(fixture.dialogs.messageTexts(), QStringList{NotResponding});
    QCOMPARE(fixture.dialogs.messages.first().icon, Dialogs::Icon::Warning);
    QTRY_COMPARE(port.received, QByteArray("id;q92;q9;q9;"));
    QVERIFY(!fixture.globals().RadioPresent);
    QVERIFY(fixture.control<QLabel>("Q9_present_ind")->isHidden());

    // The port is closed: the next command reports the missing port.
    fixture.panel().SendCommand(QStringLiteral("FA;"));
    QCOMPARE(fixture.dialogs.messages.size(), 2);
    QCOMPARE(fixture.dialogs.messages.last().text,
             QStringLiteral("Serial Communication Error - Check Comm Port and Radio Power"));
}

void TestSerialConnection::missingPortIsReportedAndNothingSent()
{
    PanelFixture fixture;
    fixture.linkPort(5, fixture.path(QStringLiteral("no-such-device")));
    fixture.start();
    fixture.control<QAction>("Setcomm5")->trigger();
    QCOMPARE(fixture.dialogs.messageTexts(), QStringList{PortInvalid});
    QCOMPARE(fixture.dialogs.messages.first().icon, Dialogs::Icon::Warning);
    QVERIFY(fixture.control<QAction>("Setcomm5")->isChecked());
    QVERIFY(!fixture.control<QAction>("Setcomm1")->isChecked());
    QCOMPARE(fixture.globals().CommPortNumber, qint16(5));
}

void TestSerialConnection::choosingThePortInUseStartsAfresh()
{
    SimRadio radio;
    PtyPair port;
    port.answerWith(radio);
    PanelFixture fixture;
    fixture.start();
    fixture.connectSerial(port);

    fixture.control<QAction>("Setcomm1")->trigger();
    // The radio leaves its reporting mode before the port is probed again.
    QTRY_COMPARE(port.received, "AI0;id;q92;q9;" + StartUpQuery + "AI2;");
    QVERIFY(fixture.globals().RadioPresent);
    QVERIFY(fixture.dialogs.messages.isEmpty());
}

void TestSerialConnection::autoConnectAtStartUp()
{
    SimRadio radio;
    PtyPair port;
    port.answerWith(radio);
    PanelFixture fixture;
    fixture.writeSettings("3,\"127.0.0.1\",\"+0\",#TRUE#,#FALSE#\r\n");
    fixture.linkPort(3, port.slavePath());
    fixture.start();
    // Connected before the window is first shown.
    QVERIFY(fixture.globals().RadioPresent);
    QVERIFY(fixture.control<QAction>("Setcomm3")->isChecked());
    QVERIFY(fixture.control<QAction>("Auto_comm_con")->isChecked());
    QTRY_VERIFY(port.received.endsWith("AI2;"));
}

QTEST_MAIN(TestSerialConnection)
#include "tst_serial_connection.moc"
