#include "station.h"

#include "transmitter.h"

#include <QAction>
#include <QRegularExpression>
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
    // A "~" in the expected bytes stands for the fine-tune procedure's framing:
    // "~FA00007040010;" is "AI0;FA00007040010;AI2;".
    void operatorStory_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QString>("shows");
        const auto row = [](const QString &steps, const QByteArray &sent, const char *shows = "") {
            static const QRegularExpression tuned(QStringLiteral("~(\\w+;)"));
            const QString bytes = QString::fromLatin1(sent).replace(tuned, QStringLiteral("AI0;\\1AI2;"));
            QTest::newRow(qPrintable(steps)) << steps << bytes.toLatin1() << QString::fromLatin1(shows);
        };
        const QString receiveOnB = statusRecord(
            {.vfo = {14'060'000, 7'040'500}, .receiveVfo = 1, .mode = 3, .offset = -50, .xit = true});
        const QByteArray tenRu = QByteArray("RU;").repeated(10), tenRd = QByteArray("RD;").repeated(10);
        // clang-format off
        // Replies move sliders and select options as the program, not the operator.
        row("reply KS030;SQ100;PC0750;MD3;GT0021;PC012;FR1;FT1;" + receiveOnB, "", "PowerSlider=12/15|cw_md=checked");
        row("click lsb_md|click usb_md|click usb_md|click cwr_md|click data_md|click datar_md|click cw_md",
            "MD1;FW;MD2;FW;MD2;FW;MD7;FW;MD6;FW;MD9;FW;MD3;FW;", "cw_md=checked|datar_md=unchecked|fil_bw=FL3/0500");
        row("click xfil|click Afil", "FW0100;FW;SW29;FW;", "fil_bw=FL2/1800|Afil=AF1 green");
        row("click AGC_on|click AGC_Slow|click AGC_Fast", "SW36;GT;GT004;GT002;", "AGC_Fast=checked|AGC_on=AGC face");
        row("click NB|click NB_level|click Ant1_2", "NB1;SW22;SW04;", "NB=NB1 green|NB_level=Low face|Ant1_2=ANT 2 face");
        row("reply RA01;|click att_cmd|click AIP_cmd", "RA00;PA1;", "att_cmd=ATT face|AIP_cmd=PRE green");
        row("click att_cmd|click att_cmd|reply PA1;|click AIP_cmd", "RA01;RA00;PA0;", "att_cmd=ATT face|AIP_cmd=PRE face");
        row("click spot", "SW27;", "spot=Spot green");
        row("click spot|reply " + statusRecord({}) + "|click spot", "SW27;SW27;", "spot=Spot face");
        row("click BandUp", "SW01;", "vfoa_edbox=18086.00");
        row("arrow fine_tune +|click BandDn", "~FA00014060010;SW03;~FA00014060010;", "fine_tune=0/50");
        row("click up1|click up100hx|click up10hz", "UP4;UP4;FA;UP3;UP3;FA;UP1;FA;", "vfoa_edbox=14062.11");
        row("click dn1|click dn100hz|click dn10hz", "DN4;DN4;FA;DN3;DN3;FA;DN1;FA;", "vfoa_edbox=14057.89");
        row("click rx_vfob|click dn100hz", "FR1;FW;IF;FA;DN3;DN3;FB;", "vfob_edbox=07029.90|vfoa_edbox=14060.00");
        row("track fine_tune -|click dn100hz", "~FA00014059950;DN3;DN3;FA;~FA00014059950;", "fine_tune=0/50");
        row("click ru10|click rd10|click ru50", "RU;RD;AI0;" + tenRu + "IF;AI2;", "rit_box=+0.10 black");
        row("click rd50|click ru1k", "AI0;" + tenRd + "IF;AI2;AI0;" + tenRu + tenRu + "RU;RU;RU;RU;RU;IF;AI2;", "rit_box=+0.15 black");
        row("click rd1k", "AI0;" + tenRd + tenRd + "RD;RD;RD;RD;RD;IF;AI2;", "rit_box=-0.25 black");
        row("click rit_cmd|click xit_cmd|click rit_clr", "RT1;IF;XT1;IF;RC;IF;", "rit_ind=green|xit_ind=green|rit_box= 0.00 cyan");
        row("reply " + statusRecord({.offset = 120, .rit = true}) + "|click rit_cmd|reply " + receiveOnB + "|click xit_cmd",
            "RT0;IF;XT0;IF;", "rit_ind=blue|xit_ind=blue");
        row("reply FA00007040000;|drag fine_tune 3", "~FA00007040010;~FA00007040020;~FA00007040030;~FA00007040030;",
            "vfoa_edbox=07040.03|fine_tune=3/50");
        // Re-centred, the slider sends the frequency unchanged; centred, nothing.
        row("reply FA00007040000;|arrow fine_tune +|arrow fine_tune +|set vfoa_edbox 7040.02|click clr_slide|click clr_slide",
            "~FA00007040010;~FA00007040020;~FA00007040020;", "vfoa_edbox=07040.02|fine_tune=0/50");
        row("reply FA00007040000;|key fine_tune Right|key fine_tune PgUp", "~FA00007040010;~FA00007040060;", "fine_tune=6/50");
        row("reply FA00007040000;|wheel fine_tune 1|wheel fine_tune -2", "~FA00007040010;~FA00007040000;~FA00007039990;",
            "fine_tune=-1/50");
        row("reply FR1;FB00007030000;|wheel vfoa_edbox -1", "~FB00007029990;", "vfoa_edbox=14060.00");
        row("reply FA00007040000;|arrow fine_tune +|set incr_edbox 100|arrow fine_tune +",
            "~FA00007040010;~FA00007040010;~FA00007040110;", "Label12=    | -005.000  | 0 | +005.000 | khz|fine_tune=1/50");
        row("reply FA00007040000;|set incr_edbox -10|arrow fine_tune +", "~FA00007039990;",
            "Label12=    | --000.500  | 0 | +-000.500 | khz");
        row("reply FA00007040000;|set incr_edbox x|track fine_tune +", "~FA00007040000;",
            "Label12=    | -000.000  | 0 | +000.000 | khz");
        row("reply FA00007040000;|set incr_edbox 15|arrow fine_tune +|arrow fine_tune +", "~FA00007040015;~FA00007040035;",
            "vfoa_edbox=07040.04");
        row("set incr_edbox 5|reply FA00007040000;|arrow fine_tune -", "~FA00007039995;", "vfoa_edbox=07040.00");
        row("reply FR1;FB00009999990;|arrow fine_tune +", "~FB00010000000;", "vfob_edbox=10000.00|vfoa_edbox=14060.00");
        row("trigger debug_on|reply FA00007039990;|arrow fine_tune +|arrow fine_tune +", "~FA00007040000;~FA00007040010;",
            "Text1=7040.01");
        row("type vfoa_edbox 3500.5|click CWsend|type vfob_edbox 10000|click CWsend", "FA00003500500;FB00010000000;",
            "vfoa_edbox=03500.50|vfob_edbox=10000.00");
        row("type vfob_edbox  7 040 kHz|click CWsend|type vfoa_edbox abc|click CWsend", "FB00007040000;FA0000;",
            "vfoa_edbox=abc");
        row("click vfoa_edbox|click CWsend", "FA00014060000;");
        // Typing replaces the frequency; another window or the box's own menu
        // coming up must not send it half-typed, only leaving the box does.
        row("type vfob_edbox 1406|away|menu vfob_edbox|key vfob_edbox 0|click CWsend", "FB00014060000;",
            "vfob_edbox=14060.00");
        row("arrow fine_tune +|type vfoa_edbox 7040|click CWsend", "~FA00014060010;FA00007040000;~FA00007040000;",
            "vfoa_edbox=07040.00|fine_tune=0/50");
        row("click a2b", "FB00014060000;FA;FB;", "vfob_edbox=14060.00");
        row("click b2a", "FA00007030000;FA;FB;", "vfoa_edbox=07030.00");
        row("track fine_tune +|click a2b", "~FA00014060050;FB00014060050;FA;FB;~FA00014060050;");
        row("type vfob_edbox 14070|click rx_vfob", "FB00014070000;FR1;FW;IF;FA;",
            "rx_vfob=RX green|tx_vfob=TX green|rx_vfoa=RX face|tx_vfoa=TX face|vfob_edbox=14070.00");
        row("click rx_vfob|click tx_vfoa", "FR1;FW;IF;FA;FT0;", "tx_vfoa=TX green|tx_vfob=TX face|rx_vfob=RX green");
        row("click tx_vfob", "FT1;", "tx_vfob=TX green|tx_vfoa=TX face|rx_vfoa=RX green");
        row("reply FR1;|arrow fine_tune +|click rx_vfoa", "~FB00007030010;FR0;FW;IF;FB;~FA00014060000;",
            "fine_tune=0/50|rx_vfoa=RX green|rx_vfob=RX face");
        row("key CWSpeedSlider Right|key CWSpeedSlider PgUp|key CWSpeedSlider Home|key CWSpeedSlider Left",
            "KS021;KS026;KS009;", "SPD=09");
        row("key SquelchSlider Right|key SquelchSlider PgUp|key SquelchSlider End", "SQ025;SQ075;SQ250;", "SQ=10");
        row("reply PC010;|key PowerSlider End|key PowerSlider Right|key PowerSlider PgDown", "PC015;PC005;");
        row("drag SquelchSlider 4", "SQ025;SQ050;SQ075;SQ100;", "SQ=04");
        row("track PowerSlider +|track PowerSlider +|track PowerSlider -", "PC110;PC120;PC110;", "PWR=11.0W");
        row("click CW_SendBuff|type CWsend cq test|click CW_SendBuff", "KY ;KY cq test;", "CWsend=cq test");
        row("type CWsend cq|key CWsend Tab|click CW_SendBuff", "KY cq;", "CWsend=cq");
        // The box holds what the radio takes in one command, 24 characters with a
        // line break counting two. A full box refuses a key typed anywhere and
        // keeps the caret; a paste keeps its beginning and the text after it.
        row("type CWsend abcdefghijklmnopqrstuvwxyz|key CWsend Backspace|key CWsend y|key CWsend Ctrl+Home|key CWsend z|"
            "key CWsend Delete|key CWsend q|click CW_SendBuff", "KY qbcdefghijklmnopqrstuvwy;");
        row("set CWsend abcdefghijklmnopqrstuvwxyz|click CW_SendBuff", "KY abcdefghijklmnopqrstuvwx;");
        row("set CWsend 012345678901234567890|key CWsend End|key CWsend Return|key CWsend Return|type CWsend k|"
            "click CW_SendBuff", "KY 012345678901234567890\r\nk;");
        row("set CWsend cq  k|key CWsend Right|key CWsend Right|key CWsend Right|paste CWsend de Q9XYZ de Q9XYZ de Q9XYZ |"
            "key CWsend Backspace|key CWsend x|click CW_SendBuff", "KY cq de Q9XYZ de Q9XYZ x k;");
        row("type CWsend cq test|key CWsend Return|type CWsend de Q9 |click CW_SendBuff", "KY cq test\r\nde Q9 ;");
        row("set CWsend test|click CW_ClearBox|click CW_Stop", "KY @;", "CWsend=");
        row("click SM_en|click CW_SendBuff", "KY ;", "Timer1=stopped|SM_en=SMeter face");
        row("trigger debug_on|click send_cmd|set Debug_send FA;|click send_cmd", "FA;", "Text1=\nFA00014060000;");
        row("trigger debug_on|set Debug_send FA;\nFB;|click send_cmd", "FA;\r\nFB;", "Debug_send=FA;\nFB;");
        row("trigger debug_on|type Debug_send FA;|key Debug_send Tab|click send_cmd", "FA;");
        // clang-format on
    }

    void operatorStory()
    {
        QFETCH(QString, steps);
        QFETCH(QByteArray, sent);
        QFETCH(QString, shows);
        Station station;
        PERFORM(station, QStringLiteral("link serial"));
        QCOMPARE(station.sentDuring(steps), sent);
        TRY_COMPARE_SHOWS(station, shows);
        QCOMPARE(station.dialogs.messages, QStringList());
    }

    void withoutLinkEachSendFailsOnItsOwn_data()
    {
        // clang-format off
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("boxes");
        QTest::addColumn<QString>("shows");
        QTest::newRow("drag") << "reply FA00007040000;|drag fine_tune 2" << 9 << "vfoa_edbox=07040.02|fine_tune=2/50";
        QTest::newRow("RX") << "arrow fine_tune +|click rx_vfob" << 7 << "rx_vfob=RX green|tx_vfob=TX green|fine_tune=0/50";
        QTest::newRow("RIT +250 Hz") << "click ru1k" << 27 << "";
        QTest::newRow("TUNE") << "click Tune" << 1 << "Tune=TUNE face";
        QTest::newRow("ATT") << "click att_cmd" << 1 << "att_cmd=ATT green";
        // clang-format on
    }

    // Each send reports its own failure and the handler goes on with its other
    // steps. A failure box is modal but the event loop goes on: what tries to
    // send while it is open is dropped, so there is one box at a time.
    void withoutLinkEachSendFailsOnItsOwn()
    {
        QFETCH(QString, steps);
        QFETCH(int, boxes);
        QFETCH(QString, shows);
        Station station;
        station.dialogs.whileMessageOpen = [&station] { station.panel().SendCommand(QStringLiteral("SM;")); };
        PERFORM(station, steps);
        QCOMPARE(station.dialogs.messages.size(), boxes);
        QCOMPARE(station.dialogs.deepestNesting, 1);
        COMPARE_SHOWS(station, shows);
    }

    void tuneFollowsTheTransmission_data()
    {
        QTest::addColumn<bool>("transmits");
        QTest::newRow("for 0.8 s") << true;
        QTest::newRow("never") << false;
    }

    // The radio keys up on "SW20;" and reports it; the button is green for
    // every poll made while it transmits and goes back when the radio reports
    // receive, and the click returns then. A radio that never transmits is
    // polled about every 0.15 s for 5 s, then the click returns.
    void tuneFollowsTheTransmission()
    {
        QFETCH(bool, transmits);
        Station station;
        station.radio.setTuneDuration(800ms);
        PERFORM(station, QStringLiteral("link serial"));
        station.radio.setSilent(!transmits);
        QList<bool> greenAtPoll;
        connect(&station, &Station::heardChunk, this, [&](const QByteArray &chunk) {
            if (chunk.contains("IF;"))
                greenAtPoll.append(station.shows(QStringLiteral("Tune=")) == u"Tune=TUNE green");
        });
        const QByteArray sent = station.sentDuring(QStringLiteral("click Tune"));
        QVERIFY2(sent.startsWith("SW20;IF;IF;") && sent.count("IF;") <= 34, sent.constData());
        QCOMPARE(QString::fromLatin1(sent.mid(5)).remove(QStringLiteral("IF;")), QString());
        QCOMPARE(greenAtPoll.mid(0, 1), QList<bool>{false});
        QCOMPARE(greenAtPoll.count(true) >= 2, transmits);
        COMPARE_SHOWS(station, "Tune=TUNE face|Smeter=0 yellow");
    }

    void pushToTalk_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("press");
        QTest::addColumn<QString>("release");
        // clang-format off
        QTest::newRow("the key on the serial port") << "link serial" << "press vfoa_edbox F12" << "release vfoa_edbox F12";
        QTest::newRow("the key through the relay") << "link server 127.0.0.1" << "press CWsend F12" << "release CWsend F12";
        QTest::newRow("the menu through the relay") << "link server 127.0.0.1" << "trigger transmit_cmd" << "trigger transmit_cmd";
        QTest::newRow("a key the operator chose") << "link server 127.0.0.1|answer Pause|trigger ptt_key|key vfoa_edbox F12"
                                                  << "press vfoa_edbox Pause" << "release vfoa_edbox Pause";
        // clang-format on
    }

    // The radio transmits while the operator holds the key (its repeats
    // are no new presses, and no box takes it for typing) or has Transmit
    // checked, through a relay for longer than its lease, and the lamp and
    // title say so; letting go unkeys it.
    void pushToTalk()
    {
        QFETCH(QString, link);
        QFETCH(QString, press);
        QFETCH(QString, release);
        Station station;
        station.startRelay(QStringLiteral("127.0.0.1"), 0);
        PERFORM(station, QString(link).replace(QStringLiteral("127.0.0.1"), station.relay()->endpoint()));
        const QString title = station.panel().windowTitle();
        station.heard.clear();
        PERFORM(station, press);
        QTRY_VERIFY(station.radio.state().transmitting);
        COMPARE_SHOWS(station, "tx_lamp=TX|transmit_cmd=checked|vfoa_edbox=14060.00|CWsend=");
        QCOMPARE(station.panel().windowTitle(), title + QStringLiteral(" - TRANSMITTING"));
        QTest::qWait(3 * Transmitter::Lease.count());
        QVERIFY(station.radio.state().transmitting);
        PERFORM(station, release);
        QTRY_VERIFY_WITH_TIMEOUT(!station.radio.state().transmitting, 200);
        COMPARE_SHOWS(station, "tx_lamp=hidden|transmit_cmd=unchecked");
        QCOMPARE(station.panel().windowTitle(), title);
        // The relay takes a lease's renewals itself.
        QCOMPARE(QByteArray(station.heard).replace("SM;", ""), QByteArray("TX;RX;"));
        QCOMPARE(station.dialogs.messages, QStringList());
    }

    // While one panel holds the transmitter, another's push-to-talk is
    // refused, and its operator is told who holds it.
    void pushToTalkRefusedWhileAnotherTransmits()
    {
        Station station;
        station.startRelay(QStringLiteral("127.0.0.1"), 0);
        const QString relay = station.relay()->endpoint();
        PERFORM(station, "link server " + relay + "|trigger transmit_cmd");
        QTRY_VERIFY(station.radio.state().transmitting);
        RecordingDialogs otherDialogs;
        otherDialogs.inputAnswers = {relay};
        Rmt_Q9 other(otherDialogs);
        other.findChild<QAction *>(QStringLiteral("Set_Host_Addr"))->trigger();
        QTRY_VERIFY(other.globals().RadioPresent);
        auto *transmit = other.findChild<QAction *>(QStringLiteral("transmit_cmd"));
        transmit->trigger();
        QTRY_COMPARE(otherDialogs.messages.size(), 1);
        QVERIFY2(otherDialogs.messages.first().contains(QRegularExpression(
                     QStringLiteral("stopped the transmission: client \\S+ holds the transmitter"))),
                 qPrintable(otherDialogs.messages.first()));
        QVERIFY(!transmit->isChecked());
        QVERIFY(station.radio.state().transmitting);
        PERFORM(station, "trigger transmit_cmd");
        QTRY_VERIFY(!station.radio.state().transmitting);
    }
};

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
