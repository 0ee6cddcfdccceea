#include "app/panel_colours.h"
#include "panel_fixture.h"
#include "recording_relay.h"

#include <QAction>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

bool pollRuns(const PanelFixture &fixture)
{
    return fixture.control<QTimer>("Timer1")->isActive();
}

bool buttonIsGreen(const PanelFixture &fixture)
{
    return backColour(fixture.control<QWidget>("SM_en")) == PanelColour::On;
}

} // namespace

class TestPeriodic : public QObject
{
    Q_OBJECT

private slots:
    void pollStartsOnlyOnceTheRadioAnswered();
    void pollPeriodFollowsTheLink();
    void pollStopsWhenTheLinkFails();
    void clockShowsUtcFromTheOffset();
    void debugConsoleSendsAndEchoes();
};

void TestPeriodic::pollStartsOnlyOnceTheRadioAnswered()
{
    PtyPair radio;
    PanelFixture fixture;
    fixture.start();
    auto *smeter = fixture.control<QPushButton>("SM_en");
    QTest::mouseClick(smeter, Qt::LeftButton);
    QVERIFY(!pollRuns(fixture));
    QVERIFY(!buttonIsGreen(fixture));
    QVERIFY(fixture.dialogs.messages.isEmpty());

    fixture.connectSerial(radio);
    QTest::mouseClick(smeter, Qt::LeftButton);
    QVERIFY(pollRuns(fixture));
    QVERIFY(buttonIsGreen(fixture));
    QTRY_VERIFY(radio.received.count("SM;") >= 3);
    QCOMPARE(QString::fromLatin1(radio.received).remove(QStringLiteral("SM;")), QString());

    // A second click stops it, and nothing more is sent.
    QTest::mouseClick(smeter, Qt::LeftButton);
    QVERIFY(!pollRuns(fixture));
    QCOMPARE(backColour(smeter), PanelColour::buttonFace());
    QTest::qWait(150);
    const QByteArray stopped = radio.received;
    QTest::qWait(300);
    QCOMPARE(radio.received, stopped);

    // Choosing the port again releases the link, which stops the poll.
    QTest::mouseClick(smeter, Qt::LeftButton);
    QVERIFY(pollRuns(fixture));
    radio.onReceive = [&radio](const QByteArray &chunk) {
        if (chunk.contains("q9;"))
            radio.write("Q91;");
    };
    fixture.control<QAction>("Setcomm1")->trigger();
    QVERIFY(!pollRuns(fixture));
    QVERIFY(!buttonIsGreen(fixture));
}

void TestPeriodic::pollPeriodFollowsTheLink()
{
    PtyPair radio;
    PanelFixture fixture;
    fixture.start();
    fixture.connectSerial(radio);
    fixture.control<QPushButton>("SM_en")->click();
    QCOMPARE(fixture.control<QTimer>("Timer1")->interval(), 100);
    fixture.control<QPushButton>("SM_en")->click();

    RecordingRelay relay(QStringLiteral("127.0.0.31"));
    fixture.dialogs.inputAnswers = {QStringLiteral("127.0.0.31")};
    fixture.control<QAction>("Set_Host_Addr")->trigger();
    QVERIFY(fixture.globals().RadioPresent);
    fixture.control<QPushButton>("SM_en")->click();
    QVERIFY(pollRuns(fixture));
    QCOMPARE(fixture.control<QTimer>("Timer1")->interval(), 250);
}

void TestPeriodic::pollStopsWhenTheLinkFails()
{
    PtyPair radio;
    PanelFixture fixture;
    fixture.start();
    fixture.connectSerial(radio);
    fixture.control<QPushButton>("SM_en")->click();
    QTRY_VERIFY(radio.received.contains("SM;"));

    // The adapter is pulled out while the poll runs: one box, then the poll
    // is off instead of failing every 100 ms.
    radio.hangUp();
    QTRY_VERIFY(!pollRuns(fixture));
    QCOMPARE(fixture.dialogs.messageTexts(),
             QStringList{QStringLiteral("Serial Communication Error - Check Comm Port and Radio Power")});
    QVERIFY(!buttonIsGreen(fixture));
    QTest::qWait(400);
    QCOMPARE(fixture.dialogs.messages.size(), 1);
}

void TestPeriodic::clockShowsUtcFromTheOffset()
{
    PanelFixture fixture;
    Rmt_Q9 &panel = fixture.start();
    auto *clock = fixture.control<QLineEdit>("utc_time");
    QVERIFY(clock->isReadOnly());
    panel.setLocalTimeSource([] { return QTime(17, 45, 10); });
    QTRY_COMPARE(clock->text(), QStringLiteral("01:45:10"));

    fixture.dialogs.inputAnswers = {QStringLiteral("-5")};
    fixture.control<QAction>("set_UTC")->trigger();
    QCOMPARE(fixture.dialogs.inputs.size(), 1);
    QCOMPARE(fixture.dialogs.inputs.first().prompt, QStringLiteral("Enter UTC +/- Offset value."));
    QCOMPARE(fixture.dialogs.inputs.first().title, QStringLiteral("Set UTC Clock Offset"));
    QCOMPARE(fixture.dialogs.inputs.first().proposed, QStringLiteral("+8"));
    panel.setLocalTimeSource([] { return QTime(2, 0, 0); });
    QTRY_COMPARE(clock->text(), QStringLiteral("21:00:00"));

    // Cancelling stores an empty offset: local time.
    fixture.control<QAction>("set_UTC")->trigger();
    QCOMPARE(fixture.globals().UtcOffset, QString());
    QTRY_COMPARE(clock->text(), QStringLiteral("02:00:00"));
}

void TestPeriodic::debugConsoleSendsAndEchoes()
{
    PtyPair radio;
    PanelFixture fixture;
    fixture.start();
    fixture.connectSerial(radio);
    auto *debug = fixture.control<QAction>("debug_on");
    auto *sendBox = fixture.control<QPlainTextEdit>("Debug_send");
    auto *receiveBox = fixture.control<QPlainTextEdit>("Text1");
    debug->trigger();
    QVERIFY(!sendBox->isHidden());

    sendBox->setPlainText(QStringLiteral("FA;"));
    fixture.control<QPushButton>("send_cmd")->click();
    QTRY_COMPARE(radio.received, QByteArray("FA;"));
    radio.write("FA00014060000;");
    QTRY_COMPARE(receiveBox->toPlainText(), QStringLiteral("\nFA00014060000;"));

    // Two lines leave with carriage return and line feed; the box keeps them.
    radio.received.clear();
    sendBox->setPlainText(QStringLiteral("FA;\nFB;"));
    fixture.control<QPushButton>("send_cmd")->click();
    QTRY_COMPARE(radio.received, QByteArray("FA;\r\nFB;"));
    QCOMPARE(sendBox->toPlainText(), QStringLiteral("FA;\nFB;"));

    // Off, then on again: the earlier text, without what came meanwhile.
    debug->trigger();
    for (const char *console : {"Debug_send", "send_cmd", "Text1", "Label4", "Label10"})
        QVERIFY2(fixture.control<QWidget>(console)->isHidden(), console);
    radio.write("FB00007040000;");
    QTRY_COMPARE(fixture.control<QLineEdit>("vfob_edbox")->text(), QStringLiteral("07040.00"));
    debug->trigger();
    QCOMPARE(receiveBox->toPlainText(), QStringLiteral("\nFA00014060000;"));
    QCOMPARE(sendBox->toPlainText(), QStringLiteral("FA;\nFB;"));

    // An empty box hands an empty string to the link: nothing leaves, no box.
    radio.received.clear();
    sendBox->clear();
    fixture.control<QPushButton>("send_cmd")->click();
    QTest::qWait(100);
    QCOMPARE(radio.received, QByteArray());
    QVERIFY(fixture.dialogs.messages.isEmpty());
}

QTEST_MAIN(TestPeriodic)
#include "tst_periodic.moc"
