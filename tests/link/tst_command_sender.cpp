#include "panel_fixture.h"
#include "recording_relay.h"
#include "pty_pair.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {
const QString SerialFailure = QStringLiteral("Serial Communication Error - Check Comm Port and Radio Power");
const QString TcpFailure =
    QStringLiteral("TCP/IP Communication Error - No Host!\r\nMake sure to connect to Host First");
} // namespace

class TestCommandSender : public QObject
{
    Q_OBJECT

private slots:
    void startsWithoutLinkAndSendsNothing();
    void serialLinkCarriesExactBytes();
    void serverLinkCarriesExactBytesAndReportsCompletion();
    void failedSendsShowOneBoxEach();
    void noSecondBoxWhileOneIsOpen();
};

void TestCommandSender::startsWithoutLinkAndSendsNothing()
{
    PanelFixture fixture;
    fixture.start();
    const Q9_globals &g = fixture.globals();
    QVERIFY(!g.LinkIsTcp);
    QVERIFY(!g.LinkIsSerial);
    QVERIFY(!g.RadioPresent);
    QVERIFY(!g.ServerConnected);
    QVERIFY(fixture.control<QLabel>("Q9_present_ind")->isHidden());
    QVERIFY(fixture.control<QLabel>("Server_Conn")->isHidden());
    QVERIFY(!fixture.control<QTimer>("Timer1")->isActive());
    QVERIFY(fixture.control<QTimer>("Timer2")->isActive());
    QCOMPARE(fixture.control<QLineEdit>("incr_edbox")->text(), QStringLiteral("0010"));
    QCOMPARE(fixture.control<QLabel>("Label12")->text(),
             QStringLiteral("    | -000.500  | 0 | +000.500 | khz"));
    QCOMPARE(fixture.control<QScrollBar>("fine_tune")->value(), 0);
    QCOMPARE(g.FineTuneStepHz, 10.0);
    QCOMPARE(g.FineTunePosition, qint16(0));
    QVERIFY(!g.AttenuatorOn);
    QVERIFY(!g.Transmitting);
    for (const char *console : {"Debug_send", "send_cmd", "Text1", "Label4", "Label10"})
        QVERIFY2(fixture.control<QWidget>(console)->isHidden(), console);
    QVERIFY(fixture.dialogs.messages.isEmpty());
}

void TestCommandSender::serialLinkCarriesExactBytes()
{
    PtyPair radio;
    PanelFixture fixture;
    fixture.start();
    fixture.connectSerial(radio);
    QVERIFY(fixture.globals().RadioPresent);
    QVERIFY(fixture.dialogs.messages.isEmpty());

    fixture.panel().SendCommand(QStringLiteral("MD1;FW;"));
    QTRY_COMPARE(radio.received, QByteArray("MD1;FW;"));
    // Nothing more follows: no line end, no echo.
    QTest::qWait(100);
    QCOMPARE(radio.received, QByteArray("MD1;FW;"));
}

void TestCommandSender::serverLinkCarriesExactBytesAndReportsCompletion()
{
    RecordingRelay relay(QStringLiteral("127.0.0.21"));
    QVERIFY(relay.isListening());

    PanelFixture fixture;
    fixture.start();
    fixture.dialogs.inputAnswers = {QStringLiteral("127.0.0.21")};
    fixture.control<QAction>("Set_Host_Addr")->trigger();
    QVERIFY(fixture.globals().ServerConnected);
    QVERIFY(fixture.globals().RadioPresent);
    QVERIFY(fixture.globals().LinkIsTcp);

    QTRY_VERIFY(fixture.globals().TcpSendComplete);
    relay.received.clear();
    fixture.panel().SendCommand(QStringLiteral("MD1;FW;"));
    QVERIFY(!fixture.globals().TcpSendComplete);
    QTRY_VERIFY(fixture.globals().TcpSendComplete);
    QTRY_COMPARE(relay.received, QByteArray("MD1;FW;"));
    QVERIFY(fixture.dialogs.messages.isEmpty());
}

void TestCommandSender::failedSendsShowOneBoxEach()
{
    PanelFixture fixture;
    fixture.start();
    fixture.panel().SendCommand(QStringLiteral("FA;"));
    fixture.panel().SendCommand(QString());
    QCOMPARE(fixture.dialogs.messageTexts(), QStringList({SerialFailure, SerialFailure}));
    QCOMPARE(fixture.dialogs.messages.first().icon, Dialogs::Icon::None);

    // A server link whose relay has gone: the two-line box, and no
    // completion ever reported.
    RecordingRelay relay(QStringLiteral("127.0.0.22"));
    fixture.dialogs.inputAnswers = {QStringLiteral("127.0.0.22")};
    fixture.control<QAction>("Set_Host_Addr")->trigger();
    QVERIFY(fixture.globals().RadioPresent);
    relay.client->disconnectFromHost();
    QTRY_COMPARE(fixture.dialogs.messages.size(), 3);

    fixture.dialogs.messages.clear();
    fixture.panel().SendCommand(QStringLiteral("FA;"));
    fixture.panel().SendCommand(QStringLiteral("FB;"));
    QCOMPARE(fixture.dialogs.messageTexts(), QStringList({TcpFailure, TcpFailure}));
    QVERIFY(!fixture.globals().TcpSendComplete);
}

void TestCommandSender::noSecondBoxWhileOneIsOpen()
{
    PanelFixture fixture;
    Rmt_Q9 &panel = fixture.start();
    int sendsWhileOpen = 0;
    fixture.dialogs.whileMessageOpen = [&] {
        // What a timer or a waiting handler does while the box is up.
        for (int i = 0; i < 5; ++i)
            sendsWhileOpen += panel.SendCommand(QStringLiteral("SM;")) ? 1 : 0;
    };
    QVERIFY(!panel.SendCommand(QStringLiteral("FA;")));
    QCOMPARE(fixture.dialogs.messages.size(), 1);
    QCOMPARE(fixture.dialogs.deepestNesting, 1);
    QCOMPARE(sendsWhileOpen, 0);

    // Once closed, the next failure is reported again.
    fixture.dialogs.whileMessageOpen = nullptr;
    panel.SendCommand(QStringLiteral("FA;"));
    QCOMPARE(fixture.dialogs.messages.size(), 2);
}

QTEST_MAIN(TestCommandSender)
#include "tst_command_sender.moc"
