#include "station.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include <chrono>

using namespace std::chrono_literals;

// The operator's controls: what each sends on the wire, and what the panel
// shows once the simulated radio has answered. The radio starts on VFO A at
// 14060 kHz, VFO B at 7030 kHz, USB, reporting its changes.
class TestControls : public QObject
{
    Q_OBJECT

private slots:
    void operatorStory_data();
    void operatorStory();
    void withoutLinkEachSendFailsOnItsOwn_data();
    void withoutLinkEachSendFailsOnItsOwn();
    void vfoBoxesSendOnlyWhenTheOperatorMovesOn();
    void cwBoxHoldsTwentyFourCharactersOnTheWire();
    void tuneFollowsTheTransmission();
    void tuneGivesUpOnARadioThatNeverTransmits();
    void tuneStopsPollingALinkThatIsGone();
};

namespace {

const QByteArray AutoOff = "AI0;";
const QByteArray AutoOn = "AI2;";

// The fine-tune procedure's three sends for one frequency.
QByteArray tuned(const char *command)
{
    return AutoOff + command + AutoOn;
}

} // namespace

void TestControls::operatorStory_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("shows");
    const auto row = [](const char *name, const char *steps, const QByteArray &sent, const char *shows = "") {
        QTest::newRow(name) << QString::fromLatin1(steps) << sent << QString::fromLatin1(shows);
    };
    row("LSB", "click lsb_md", "MD1;FW;", "lsb_md=checked");
    row("USB again restates", "click usb_md|click usb_md", "MD2;FW;MD2;FW;");
    row("CW", "click cw_md", "MD3;FW;", "fil_bw=FL3/0500");
    row("CW-R", "click cwr_md", "MD7;FW;");
    row("DATA", "click data_md", "MD6;FW;");
    row("DATA-R", "click datar_md", "MD9;FW;");
    row("XFIL", "click xfil", "FW0100;FW;", "fil_bw=FL2/1800");
    row("AFIL", "click Afil", "SW29;FW;", "Afil=AF1 green");
    row("AGC", "click AGC_on", "SW36;GT;", "AGC_on=AGC face");
    row("AGC fast", "click AGC_Fast", "GT002;");
    row("AGC slow", "click AGC_Slow", "GT004;", "AGC_Slow=checked");
    row("NB", "click NB", "NB1;", "NB=NB1 green");
    row("NB level", "click NB_level", "SW22;", "NB_level=Low face");
    row("antenna", "click Ant1_2", "SW04;", "Ant1_2=ANT 2 face");
    row("ATT on", "click att_cmd", "RA01;", "att_cmd=ATT green");
    row("ATT off", "click att_cmd|click att_cmd", "RA01;RA00;", "att_cmd=ATT face");
    row("ATT after the radio's report", "reply RA01;|click att_cmd", "RA00;");
    row("PRE on", "click AIP_cmd", "PA1;", "AIP_cmd=PRE green");
    row("PRE after the radio's report", "reply PA1;|click AIP_cmd", "PA0;", "AIP_cmd=PRE face");
    row("spot", "click spot", "SW27;", "spot=Spot green");
    row("spot whatever the radio does", "click spot|reply IF00014060000     +000000 0002000001 ;|click spot",
        "SW27;SW27;", "spot=Spot face");
    row("band up", "click BandUp", "SW01;", "vfoa_edbox=18086.00");
    row("band down re-centres", "arrow fine_tune +|click BandDn",
        tuned("FA00014060010;") + "SW03;" + tuned("FA00014060010;"), "fine_tune=0/50");
    row("+2 kHz", "click up1", "UP4;UP4;FA;", "vfoa_edbox=14062.00");
    row("-2 kHz", "click dn1", "DN4;DN4;FA;", "vfoa_edbox=14058.00");
    row("+100 Hz", "click up100hx", "UP3;UP3;FA;", "vfoa_edbox=14060.10");
    row("-100 Hz", "click dn100hz", "DN3;DN3;FA;");
    row("+10 Hz", "click up10hz", "UP1;FA;");
    row("-10 Hz", "click dn10hz", "DN1;FA;", "vfoa_edbox=14059.99");
    row("steps follow the receive VFO", "click rx_vfob|click dn100hz", "FR1;FW;IF;FA;DN3;DN3;FB;",
        "vfob_edbox=07029.90|vfoa_edbox=14060.00");
    row("steps re-centre", "track fine_tune -|click dn100hz",
        tuned("FA00014059950;") + "DN3;DN3;FA;" + tuned("FA00014059950;"), "fine_tune=0/50");
    row("RIT +10 Hz", "click ru10", "RU;");
    row("RIT -10 Hz", "click rd10", "RD;");
    row("RIT +100 Hz", "click ru50", AutoOff + QByteArray("RU;").repeated(10) + "IF;AI2;",
        "rit_box=+0.10 black");
    row("RIT -100 Hz", "click rd50", AutoOff + QByteArray("RD;").repeated(10) + "IF;AI2;");
    row("RIT +250 Hz", "click ru1k", AutoOff + QByteArray("RU;").repeated(25) + "IF;AI2;");
    row("RIT -250 Hz", "click rd1k", AutoOff + QByteArray("RD;").repeated(25) + "IF;AI2;",
        "rit_box=-0.25 black");
    row("RIT clear", "click rit_clr", "RC;IF;");
    row("RIT on", "click rit_cmd", "RT1;IF;", "rit_ind=green|rit_box= 0.00 cyan");
    row("XIT on", "click xit_cmd", "XT1;IF;", "xit_ind=green");
    row("RIT off", "reply IF00014060000     +012010 0002000001 ;|click rit_cmd", "RT0;IF;", "rit_ind=blue");
    row("XIT off", "reply IF00007040500     -005001 0003100001 ;|click xit_cmd", "XT0;IF;");
    row("drag", "reply FA00007040000;|drag fine_tune 3",
        tuned("FA00007040010;") + tuned("FA00007040020;") + tuned("FA00007040030;") + tuned("FA00007040030;"),
        "vfoa_edbox=07040.03|fine_tune=3/50");
    row("arrows, then re-centre",
        "reply FA00007040000;|arrow fine_tune +|arrow fine_tune +|set vfoa_edbox 7040.02|"
        "click clr_slide",
        tuned("FA00007040010;") + tuned("FA00007040020;") + tuned("FA00007040020;"),
        "vfoa_edbox=07040.02|fine_tune=0/50");
    row("centred re-centre", "click clr_slide", "");
    row("track", "reply FA00007040000;|track fine_tune +|track fine_tune -",
        tuned("FA00007040050;") + tuned("FA00007040000;"), "fine_tune=0/50");
    row("keys on the bar", "reply FA00007040000;|key fine_tune Right|key fine_tune PgUp",
        tuned("FA00007040010;") + tuned("FA00007040060;"), "fine_tune=6/50");
    row("wheel up over the bar", "reply FA00007040000;|wheel fine_tune 1", tuned("FA00007040010;"),
        "fine_tune=1/50");
    row("wheel down over the bar", "reply FA00007040000;|wheel fine_tune -2",
        tuned("FA00007039990;") + tuned("FA00007039980;"), "fine_tune=-2/50");
    row("wheel up over a VFO box", "reply FA00007040000;|wheel vfoa_edbox 1", tuned("FA00007040010;"),
        "fine_tune=1/50");
    row("wheel over VFO A tunes B receiving", "reply FR1;FB00007030000;|wheel vfoa_edbox -1",
        tuned("FB00007029990;"), "vfoa_edbox=14060.00");
    row("increment", "reply FA00007040000;|arrow fine_tune +|set incr_edbox 100|arrow fine_tune +",
        tuned("FA00007040010;") + tuned("FA00007040010;") + tuned("FA00007040110;"),
        "Label12=    | -005.000  | 0 | +005.000 | khz|fine_tune=1/50");
    row("negative increment", "reply FA00007040000;|set incr_edbox -10|arrow fine_tune +",
        tuned("FA00007039990;"), "Label12=    | --000.500  | 0 | +-000.500 | khz");
    row("no increment", "reply FA00007040000;|set incr_edbox x|track fine_tune +", tuned("FA00007040000;"),
        "Label12=    | -000.000  | 0 | +000.000 | khz");
    row("off the 10 Hz grid", "reply FA00007040000;|set incr_edbox 15|arrow fine_tune +|arrow fine_tune +",
        tuned("FA00007040015;") + tuned("FA00007040035;"), "vfoa_edbox=07040.04");
    row("half rounds away", "set incr_edbox 5|reply FA00007040000;|arrow fine_tune -",
        tuned("FA00007039995;"), "vfoa_edbox=07040.00");
    row("fine tune on B", "reply FR1;FB00009999990;|arrow fine_tune +", tuned("FB00010000000;"),
        "vfob_edbox=10000.00|vfoa_edbox=14060.00");
    row("fine tune in the console",
        "trigger debug_on|reply FA00007039990;|arrow fine_tune +|arrow fine_tune +",
        tuned("FA00007040000;") + tuned("FA00007040010;"), "Text1=7040.01");
    row("fine tune whole kHz in the console", "trigger debug_on|reply FA00007039990;|arrow fine_tune +",
        tuned("FA00007040000;"), "Text1=7040.");
    row("typed fraction", "type vfoa_edbox 3500.5|click CWsend", "FA00003500500;", "vfoa_edbox=03500.50");
    row("typed 10 MHz on B", "type vfob_edbox 10000|click CWsend", "FB00010000000;", "vfob_edbox=10000.00");
    row("typed just below", "type vfoa_edbox 9999.99|click CWsend", "FA00009999990;");
    row("typed 10 Hz", "type vfoa_edbox 28000.01|click CWsend", "FA00028000010;");
    row("typed blanks and unit", "type vfob_edbox  7 040 kHz|click CWsend", "FB00007040000;");
    row("typed no number", "type vfoa_edbox abc|click CWsend", "FA0000;", "vfoa_edbox=abc");
    row("left unchanged", "click vfoa_edbox|click CWsend", "FA00014060000;");
    row("left off-centre", "arrow fine_tune +|type vfoa_edbox 7040|click CWsend",
        tuned("FA00014060010;") + "FA00007040000;" + tuned("FA00007040000;"),
        "vfoa_edbox=07040.00|fine_tune=0/50");
    row("A=>B", "click a2b", "FB00014060000;FA;FB;", "vfob_edbox=14060.00");
    row("B=>A", "click b2a", "FA00007030000;FA;FB;", "vfoa_edbox=07030.00");
    row("A=>B off-centre", "track fine_tune +|click a2b",
        tuned("FA00014060050;") + "FB00014060050;FA;FB;" + tuned("FA00014060050;"));
    row("typed, then RX on B", "type vfob_edbox 14070|click rx_vfob", "FB00014070000;FR1;FW;IF;FA;",
        "rx_vfob=RX green|tx_vfob=TX green|rx_vfoa=RX face|tx_vfoa=TX face|vfob_edbox=14070.00");
    row("TX leaves RX alone", "click rx_vfob|click tx_vfoa", "FR1;FW;IF;FA;FT0;",
        "tx_vfoa=TX green|tx_vfob=TX face|rx_vfob=RX green|rx_vfoa=RX face");
    row("TX on B", "click tx_vfob", "FT1;", "tx_vfob=TX green|tx_vfoa=TX face|rx_vfoa=RX green");
    row("RX on A re-centres on A", "reply FR1;|arrow fine_tune +|click rx_vfoa",
        tuned("FB00007030010;") + "FR0;FW;IF;FB;" + tuned("FA00014060000;"),
        "fine_tune=0/50|rx_vfoa=RX green");
    row("keyer speed", "key CWSpeedSlider Right", "KS021;", "SPD=21");
    row("keyer speed page", "key CWSpeedSlider PgUp", "KS025;");
    row("keyer speed at its end", "key CWSpeedSlider Home|key CWSpeedSlider Left", "KS009;");
    row("squelch", "key SquelchSlider Right|key SquelchSlider PgUp|key SquelchSlider End",
        "SQ025;SQ075;SQ250;", "SQ=10");
    row("power of a low-power radio",
        "reply PC010;|key PowerSlider End|key PowerSlider Right|key PowerSlider PgDown", "PC015;PC005;");
    row("squelch dragged", "drag SquelchSlider 4", "SQ025;SQ050;SQ075;SQ100;", "SQ=04");
    row("power clicked beside", "track PowerSlider +|track PowerSlider +|track PowerSlider -",
        "PC110;PC120;PC110;", "PWR=11.0W");
    row("empty CW", "click CW_SendBuff", "KY ;");
    row("CW text", "type CWsend cq test|click CW_SendBuff", "KY cq test;", "CWsend=cq test");
    row("Tab leaves the CW box", "type CWsend cq|key CWsend Tab|click CW_SendBuff", "KY cq;", "CWsend=cq");
    row("CW on two lines", "type CWsend cq test|key CWsend Return|type CWsend de Q9 |click CW_SendBuff",
        "KY cq test\r\nde Q9 ;");
    row("CW stop and clear", "set CWsend test|click CW_ClearBox|click CW_Stop", "KY @;", "CWsend=");
    row("CW stops the poll", "click SM_en|click CW_SendBuff", "KY ;", "Timer1=stopped|SM_en=SMeter face");
    row("console", "trigger debug_on|set Debug_send FA;|click send_cmd", "FA;", "Text1=\nFA00014060000;");
    row("console, two lines", "trigger debug_on|set Debug_send FA;\nFB;|click send_cmd", "FA;\r\nFB;",
        "Debug_send=FA;\nFB;");
    row("console, empty", "trigger debug_on|click send_cmd", "");
    row("Tab leaves the console box",
        "trigger debug_on|type Debug_send FA;|key Debug_send Tab|click send_cmd", "FA;");
}

void TestControls::operatorStory()
{
    QFETCH(QString, steps);
    QFETCH(QByteArray, sent);
    QFETCH(QString, shows);
    Station station;
    station.connectSerial();
    QCOMPARE(station.sentDuring(steps), sent);
    TRY_COMPARE_SHOWS(station, shows);
    QCOMPARE(station.dialogs.messageTexts(), QStringList());
}

void TestControls::withoutLinkEachSendFailsOnItsOwn_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<int>("boxes");
    QTest::addColumn<QString>("shows");
    QTest::newRow("drag") << "reply FA00007040000;|drag fine_tune 2" << 9
                          << "vfoa_edbox=07040.02|fine_tune=2/50";
    QTest::newRow("RX") << "arrow fine_tune +|click rx_vfob" << 7
                        << "rx_vfob=RX green|tx_vfob=TX green|fine_tune=0/50";
    QTest::newRow("A=>B") << "click a2b" << 2 << "";
    QTest::newRow("+2 kHz") << "click up1" << 2 << "";
    QTest::newRow("RIT +250 Hz") << "click ru1k" << 27 << "";
    QTest::newRow("TUNE") << "click Tune" << 2 << "Tune=TUNE face";
    QTest::newRow("keys") << "key CWSpeedSlider Right|key CWSpeedSlider Right" << 2 << "CWSpeedSlider=11/50";
    QTest::newRow("ATT") << "click att_cmd" << 1 << "att_cmd=ATT green";
}

// Each send reports its own failure, one box at a time, and the handler
// goes on with its other steps.
void TestControls::withoutLinkEachSendFailsOnItsOwn()
{
    QFETCH(QString, steps);
    QFETCH(int, boxes);
    QFETCH(QString, shows);
    Station station;
    station.perform(steps);
    QCOMPARE(station.dialogs.messages.size(), boxes);
    QCOMPARE(station.dialogs.deepestNesting, 1);
    COMPARE_SHOWS(station, shows);
}

// Entering a box selects the frequency so typing replaces it; leaving it
// for another control sends it. Another window coming to the front, or the
// box's own context menu, must not send a half-typed frequency.
void TestControls::vfoBoxesSendOnlyWhenTheOperatorMovesOn()
{
    Station station;
    station.connectSerial();
    auto *box = station.control<QLineEdit>("vfob_edbox");
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->width() - 4, box->height() / 2));
    QTRY_COMPARE(box->selectedText(), QStringLiteral("07030.00"));
    QTest::keyClicks(box, QStringLiteral("1406"));

    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    other.hide();
    station.panel().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&station.panel()));
    QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
    QCoreApplication::sendEvent(box, &popup);
    QCOMPARE(station.sentSoFar(), QByteArray());
    QVERIFY(box->hasFocus());
    QCOMPARE(box->text(), QStringLiteral("1406"));
    QCOMPARE(station.sentDuring(QStringLiteral("key vfob_edbox 0|click CWsend")),
             QByteArray("FB00014060000;"));

    // Coming back from another control selects again.
    TRY_COMPARE_SHOWS(station, "vfob_edbox=14060.00");
    box->setFocus(Qt::BacktabFocusReason);
    QTRY_COMPARE(box->selectedText(), QStringLiteral("14060.00"));
}

void TestControls::cwBoxHoldsTwentyFourCharactersOnTheWire()
{
    Station station;
    auto *box = station.start().findChild<QPlainTextEdit *>(QStringLiteral("CWsend"));
    station.perform(QStringLiteral("type CWsend abcdefghijklmnopqrstuvwxyz"));
    QCOMPARE(box->toPlainText(), QStringLiteral("abcdefghijklmnopqrstuvwx"));
    QCOMPARE(box->textCursor().position(), 24);

    // A full box refuses a key typed in the middle and keeps the caret there.
    box->moveCursor(QTextCursor::Start);
    QTest::keyClicks(box, QStringLiteral("Z"));
    QCOMPARE(box->toPlainText(), QStringLiteral("abcdefghijklmnopqrstuvwx"));
    QCOMPARE(box->textCursor().position(), 0);

    // A line break counts two.
    station.perform(QStringLiteral("set CWsend cq cq cq de|key CWsend End|key CWsend Return|"
                                   "type CWsend Q9XYZ Q9XYZ k"));
    QCOMPARE(box->toPlainText(), QStringLiteral("cq cq cq de\nQ9XYZ Q9XYZ"));
    station.perform(QStringLiteral("set CWsend 0123456789012345678901|key CWsend End|key CWsend Return|"
                                   "key CWsend Return"));
    QCOMPARE(box->toPlainText(), QStringLiteral("0123456789012345678901\n"));

    // A paste keeps its beginning, up to what fits, and the text after the
    // caret stays.
    box->setPlainText(QStringLiteral("cq  k"));
    QTextCursor caret = box->textCursor();
    caret.setPosition(3);
    box->setTextCursor(caret);
    box->insertPlainText(QStringLiteral("de Q9XYZ de Q9XYZ de Q9XYZ "));
    QCOMPARE(box->toPlainText(), QStringLiteral("cq de Q9XYZ de Q9XYZ d k"));
    QCOMPARE(box->textCursor().position(), 22);
}

// The radio keys up on "SW20;" and reports it; the button is green for
// every poll made while it transmits and goes back when the radio reports
// receive, and the click returns then.
void TestControls::tuneFollowsTheTransmission()
{
    Station station;
    station.radio.setTuneDuration(800ms);
    station.connectSerial();
    QList<bool> greenAtPoll;
    connect(&station, &Station::heardChunk, this, [&](const QByteArray &chunk) {
        if (chunk.contains("IF;"))
            greenAtPoll.append(station.shows(QStringLiteral("Tune=")) == u"Tune=TUNE green");
    });
    const QByteArray sent = station.sentDuring(QStringLiteral("click Tune"));
    QVERIFY2(sent.startsWith("SW20;IF;"), sent.constData());
    QCOMPARE(QString::fromLatin1(sent.mid(5)).remove(QStringLiteral("IF;")), QString());
    QCOMPARE(greenAtPoll.first(), false);
    QVERIFY(greenAtPoll.count(true) >= 2);
    COMPARE_SHOWS(station, "Tune=TUNE face|Smeter=0 yellow");
}

// About every 0.15 s for 5 s, then it stops.
void TestControls::tuneGivesUpOnARadioThatNeverTransmits()
{
    Station station;
    station.connectSerial();
    station.radio.setSilent(true);
    const QByteArray polls = station.sentDuring(QStringLiteral("click Tune")).mid(5);
    QCOMPARE(QString::fromLatin1(polls).remove(QStringLiteral("IF;")), QString());
    QVERIFY2(polls.count("IF;") > 1 && polls.count("IF;") <= 34, polls.constData());
    COMPARE_SHOWS(station, "Tune=TUNE face");
}

// With the link lost while the radio transmits no record can ever report
// the end: the poll that fails to go out ends TUNE after its one box.
void TestControls::tuneStopsPollingALinkThatIsGone()
{
    Station station;
    station.radio.setTuneDuration(60s);
    station.connectSerial();
    connect(&station, &Station::heardChunk, this, [&](const QByteArray &) {
        if (station.heard.count("IF;") == 3)
            QMetaObject::invokeMethod(&station, &Station::unplugSerial, Qt::QueuedConnection);
    });
    station.perform(QStringLiteral("click Tune"));
    QCOMPARE(station.dialogs.messages.size(), 1);
    COMPARE_SHOWS(station, "Smeter=0 dark red");
}

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
