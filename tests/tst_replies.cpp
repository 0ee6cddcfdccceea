#include "programs.h"
#include "station.h"

#include "app/numbers.h"
#include "app/utc_clock.h"
#include "link/reply_framer.h"
#include "link/server_address.h"
#include "tuning/frequency_command.h"

#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTest>

#include <limits>

// What the radio's text does to the panel: how the stream is cut into
// replies, what each reply shows, and the text rules behind the displays.
class TestReplies : public QObject
{
    Q_OBJECT

private slots:
    void replyShowsOnThePanel_data();
    void replyShowsOnThePanel();
    void framingIsTheSameUnderEverySplit();
    void debugWindowEchoesEachChunk();
    void everyByteValueCrossesBothLinks();
    void textRules_data();
    void textRules();
};

namespace {

const QString Stream = QStringLiteral(
    "FA00014060000;FB00007040500;\r\nIF00014060000     +012010 0002000001 ;;SM0007;GT0021;NB10;PC0501;");

QStringList frame(const QStringList &chunks)
{
    ReplyFramer framer;
    QStringList replies;
    for (const QString &chunk : chunks)
        replies += framer.feed(chunk);
    return replies;
}

} // namespace

void TestReplies::replyShowsOnThePanel_data()
{
    // clang-format off
    QTest::addColumn<QString>("replies");
    QTest::addColumn<QString>("shows");
    const auto row = [](const char *replies, const char *shows) {
        QTest::newRow(replies) << QString::fromLatin1(replies) << QString::fromLatin1(shows);
    };
    // Each row a report of several settings at once, one control each.
    row("FA00014060000;FB00007040500;FR1;FR2;FT1;FT;Q91;AN2;KS020;SQ050;SM0007;RA01;PA1;MD3;FW250010;GT0021;NB10;",
        "vfoa_edbox=14060.00|vfob_edbox=07040.50|rx_vfob=RX green|rx_vfoa=RX face|tx_vfob=TX green|tx_vfoa=TX face|"
        "Q9_present_ind= Q9 Present|Ant1_2=ANT 2 face|CWSpeedSlider=20/50|SPD=20|SquelchSlider=2/10|SQ=02|"
        "Smeter=14 yellow|att_cmd=ATT green|AIP_cmd=PRE green|cw_md=checked|lsb_md=unchecked|fil_bw=FL1/2500|"
        "Afil=AFIL face|AGC_Fast=checked|AGC_on=AGC green|NB=NB1 green|NB_level=High face");
    row("FB00000135000;FR1;FR0;FT1;FT0;AN2;AN1;SQ037;SM0001;RA01;RA00;PA1;PA0;MD7;FW050031;GT0021;GT0040;NB1;",
        "vfob_edbox=00135.00|rx_vfoa=RX green|rx_vfob=RX face|tx_vfoa=TX green|tx_vfob=TX face|Ant1_2=ANT 1 face|"
        "SquelchSlider=1/10|SQ=01|Smeter=2 yellow|att_cmd=ATT face|AIP_cmd=PRE face|cwr_md=checked|"
        "fil_bw=FL3/0500|Afil=AF1 green|AGC_Slow=checked|AGC_Fast=unchecked|AGC_on=AGC face|NB=NB face");
    row("FA00144300000;AN;SQ038;SM0005;MD6;FW050031;FW25002;GT004;NB20;NB01;PC010;PC1500;",
        "vfoa_edbox=44300.00|Ant1_2=ANT 1 face|SquelchSlider=2/10|SQ=02|Smeter=10 yellow|data_md=checked|"
        "fil_bw=FL2/2500|Afil=AF1 green|AGC_Slow=checked|AGC_on=AGC green|NB=NB face|NB_level=Low face|"
        "PowerSlider=150/150|PWR=15.0W");
    row("FA14060000;SQ255;SM0015;MD9;FW250092;NB20;NB91;PC0501;",
        "vfoa_edbox=14060.00|SquelchSlider=10/10|SQ=10|Smeter=30 yellow|datar_md=checked|fil_bw=/2500|"
        "Afil=AF2 green|NB=NB2 green|NB_level=Low face|PowerSlider=50/150|PWR=05.0W");
    row("FA;SM0020;MD2;MD5;PC010;", "vfoa_edbox=00000.00|Smeter=30 yellow|usb_md=checked|NB_level=hidden|"
                                    "PowerSlider=10/15|PWR=10W");
    row("fa00007000000;SM0020;SM;MD2;MD;", "vfoa_edbox=|Smeter=0 yellow|usb_md=checked");
    row("FA00014060000;ZZ123;RM10012;;\r\nFA00007000000;?;F;MD2;MD1;", "vfoa_edbox=14060.00|lsb_md=checked");
    row("GT;PC;SQ;KS;FW;IF;RA;PA;",
        "SquelchSlider=0/10|fil_bw=/;|Smeter=0 dark red|PWR=;.W|att_cmd=ATT green|"
        "AIP_cmd=PRE green|AGC_on=AGC green|AGC_Slow=checked");
    row("IF00014060000     +012010 0002000001 ;",
        "usb_md=checked|vfoa_edbox=14060.00|rx_vfoa=RX green|rx_vfob=RX face|Tune=TUNE face|Smeter=0 yellow|"
        "rit_box=+0.12 cyan|rit_ind=green|xit_ind=blue");
    row("IF00007040500     -005001 0013100001 ;",
        "cw_md=checked|vfob_edbox=07040.50|vfoa_edbox=|rx_vfob=RX green|"
        "rx_vfoa=RX face|Smeter=0 dark red|rit_box=-0.05 cyan|"
        "rit_ind=blue|xit_ind=green");
    row("MD3;IF00003500000     +000000 0005000001 ;",
        "cw_md=checked|vfoa_edbox=03500.00|rit_box= 0.00 black|rit_ind=blue|xit_ind=blue");
    row("IFX00007074000     +000000 0006000001 ;", "vfob_edbox=07074.00|data_md=checked");
    row("IF00014060000     -999901 0002000001 ;", "rit_box=-9.99 cyan|rit_ind=blue|xit_ind=green");
    row("IF00014060000     +100000 0002000001 ;", "rit_box=+1.00 black|rit_ind=blue|xit_ind=blue");
    row("IF00014060000     +000020 0002000001 ;", "rit_box= 0.00 black|rit_ind=blue");
    // clang-format on
}

// Each row starts from a fresh panel and hands it the text as one chunk.
void TestReplies::replyShowsOnThePanel()
{
    QFETCH(QString, replies);
    QFETCH(QString, shows);
    Station station;
    station.start().ReceiveText(replies);
    QCOMPARE(station.shows(shows), shows);
}

void TestReplies::framingIsTheSameUnderEverySplit()
{
    const QStringList whole = frame({Stream});
    QCOMPARE(whole,
             QStringList({"FA00014060000;", "FB00007040500;", "\r\nIF00014060000     +012010 0002000001 ;",
                          ";", "SM0007;", "GT0021;", "NB10;", "PC0501;"}));
    for (qsizetype cut = 0; cut <= Stream.size(); ++cut)
        QCOMPARE(frame({Stream.left(cut), Stream.mid(cut)}), whole);
    QRandomGenerator random(7);
    for (int round = 0; round < 200; ++round) {
        QStringList chunks;
        for (qsizetype at = 0; at < Stream.size();) {
            const qsizetype length = random.bounded(0, round % 2 ? 2 : 12);
            chunks.append(Stream.mid(at, length));
            at += length;
        }
        QCOMPARE(frame(chunks), whole);
    }
    // Noise that never ends a reply keeps only a bounded tail.
    ReplyFramer framer;
    for (int i = 0; i < 1000; ++i)
        QVERIFY(framer.feed(QString(1000, u'x')).isEmpty());
    const QStringList after = framer.feed(QStringLiteral("\r\nFA00014060000;"));
    QCOMPARE(after.size(), 1);
    QVERIFY(after.first().endsWith(QStringLiteral("x\r\nFA00014060000;")));
    QVERIFY(after.first().size() <= ReplyFramer::MaxPending + 16);
}

void TestReplies::debugWindowEchoesEachChunk()
{
    Station station;
    station.perform(QStringLiteral("reply FA000|trigger debug_on|reply 14060000;|reply |reply SM0007;"));
    COMPARE_SHOWS(station, "Text1=\n14060000;\n\nSM0007;|vfoa_edbox=14060.00");
    // The greeting replaces the window, but only while it is shown; what
    // arrives while it is hidden is not echoed.
    station.perform(QStringLiteral("reply !!relay;"));
    COMPARE_SHOWS(station, "Text1=R9Ezuziz Connected");
    station.perform(QStringLiteral("trigger debug_on|reply !!;|reply FB;|trigger debug_on"));
    COMPARE_SHOWS(station, "Text1=R9Ezuziz Connected");

    // Hours of S-meter replies keep only the newest lines.
    for (int i = 0; i < 10000; ++i)
        station.panel().ReceiveText(QStringLiteral("SM%1;").arg(i % 16, 4, 10, QChar(u'0')));
    auto *window = station.control<QPlainTextEdit>("Text1");
    QVERIFY(window->blockCount() <= 5000);
    QVERIFY(window->toPlainText().endsWith(QStringLiteral("\nSM0015;")));

    // Megabytes in one read, as a relay may hand them on: the window shows a
    // screenful of it with the count of what it left out, every reply is
    // still interpreted, and long lines too leave the window within its bound.
    station.perform(QStringLiteral("reply FA000"));
    window->clear();
    const QString burst = "21074000;" + QStringLiteral("SM00007;").repeated(512 * 1024) + "SM00003;";
    station.panel().ReceiveText(burst);
    COMPARE_SHOWS(station, "vfoa_edbox=21074.00|Smeter=6 yellow");
    QCOMPARE(window->toPlainText(),
             u'\n' + burst.left(1000)
                 + QStringLiteral("\n[%1 characters left out]\n").arg(burst.size() - 2000)
                 + burst.right(1000));
    for (int i = 0; i < 200; ++i)
        station.panel().ReceiveText(burst.left(5000));
    QVERIFY(window->document()->characterCount() < 300'000);
}

// The byte values include ";" itself: the noise after it is ended by one
// more, and the reply that follows stands alone. From the relay they come
// as more than the socket hands on at once, and the rest follows unasked.
void TestReplies::everyByteValueCrossesBothLinks()
{
    const QByteArray allBytes = everyByteValue();
    Station station;
    station.perform(QStringLiteral("trigger debug_on"));
    station.connectSerial();
    station.writeSerial(allBytes + ";FA00021074000;");
    TRY_COMPARE_SHOWS(station, "vfoa_edbox=21074.00");
    QVERIFY(station.control<QPlainTextEdit>("Text1")->toPlainText().contains(QStringLiteral("\u00fe\u00ff")));
    // Replies move sliders and select options as the program, not the
    // operator: nothing goes back to the radio.
    QCOMPARE(station.sentDuring(QStringLiteral(
                 "reply KS030;SQ100;PC0750;MD3;GT0021;PC012;FR1;FT1;IF00007040500     -005001 0013100001 ;")),
             QByteArray());
    COMPARE_SHOWS(station, "PowerSlider=12/15|cw_md=checked");

    station.connectServer(loopbackAddress());
    station.relay()->sendToClient(allBytes.repeated(40) + ";FB00028074000;");
    TRY_COMPARE_SHOWS(station, "vfob_edbox=28074.00");
    QVERIFY(station.dialogs.messages.isEmpty());
}

void TestReplies::textRules_data()
{
    // clang-format off
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("expected");
    const auto number = [](double value) { return QString::number(value, 'g', 17); };
    const auto row = [](const char *name, const QString &result, const char *expected) {
        QTest::newRow(name) << result << QString::fromLatin1(expected);
    };
    // Reading a number the way the radio's fields and the boxes are read.
    row("second point", number(leadingNumber(QStringLiteral("12.5.6"))), "12.5");
    row("sign inside", number(leadingNumber(QStringLiteral("1-2"))), "1");
    row("return ends it", number(leadingNumber(QStringLiteral("1\r2"))), "1");
    row("saturates", number(leadingNumber(QString(400, u'9'))), "1.7976931348623157e+308");
    // Writing numbers into displays and commands.
    row("half up", formatZeroPadded(7040.005, 5, 2), "07040.01");
    row("half away", formatZeroPadded(-7040.005, 5, 2), "-07040.01");
    row("no minus zero", formatZeroPadded(-0.001, 1, 2), "0.00");
    row("optional rounds", formatOptionalDigits(7040.004, 2), "7040.");
    row("optional huge", formatOptionalDigits(1e20, 0), "100000000000000000000");
    row("prefix before rounding", setFrequencyCommand(QStringLiteral("FA"), 9999.9999), "FA000010000000;");
    row("nearest hertz", setFrequencyCommand(QStringLiteral("FB"), 7040.0125), "FB00007040013;");
    // The clock: the local hour plus the offset, corrected once.
    row("clock once only", utcClockText(QTime(10, 0, 0), QStringLiteral("+30")), "16:00:00");
    row("clock midnight", utcClockText(QTime(23, 59, 59), QStringLiteral("+1")), "00:59:59");
    // Where the server box points: host and port.
    const auto server = [](const char *text) {
        const ServerAddress address = serverAddressFrom(QString::fromLatin1(text));
        return address.host + u' ' + QString::number(address.port);
    };
    row("host alone", server("shack"), "shack 2300");
    row("host and port", server("shack:2301"), "shack 2301");
    row("IPv6 and port", server("[fd00::7]:2301"), "fd00::7 2301");
    row("IPv6 alone", server("fd00::7"), "fd00::7 2300");
    row("IPv6 in brackets", server("[::1]"), "::1 2300");
    row("not a port", server("shack:99999"), "shack:99999 2300");
    // clang-format on
}

void TestReplies::textRules()
{
    QFETCH(QString, result);
    QFETCH(QString, expected);
    QCOMPARE(result, expected);
}

QTEST_MAIN(TestReplies)
#include "tst_replies.moc"
