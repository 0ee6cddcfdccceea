#include "programs.h"
#include "station.h"

#include "app/numbers.h"
#include "app/panel_colours.h"
#include "app/utc_clock.h"
#include "link/radio_link.h"
#include "link/reply_framer.h"
#include "link/server_address.h"
#include "tuning/frequency_command.h"

#include <QAccessible>
#include <QAction>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QStyleOptionButton>
#include <QTest>

#include <cmath>

namespace {

// Texts the program writes into controls after start-up; each must fit as
// well as the design text does.
// clang-format off
const QHash<QString, QString> RunTimeTexts = {
    {"vfoa_edbox", "88888.88"}, {"vfob_edbox", "88888.88"}, {"utc_time", "23:59:59"}, {"fil_bw", "FL2/2500"},
    {"rit_box", "-9.99"}, {"SPD", "50"}, {"PWR", "15.0W"}, {"Ant1_2", "ANT 2"}, {"Afil", "AF2"}, {"NB_level", "High"},
    {"Label12", "    | --050.000  | 0 | +-050.000 | khz"}};
// clang-format on

// The space a control leaves for one line of its text, after the style's
// frame, margins and indicator.
QSize textRoom(const QWidget *control)
{
    if (auto *button = qobject_cast<const QAbstractButton *>(control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const bool radio = qobject_cast<const QRadioButton *>(control);
        const auto part = radio ? QStyle::SE_RadioButtonContents : QStyle::SE_PushButtonContents;
        return control->style()->subElementRect(part, &option, control).size();
    }
    if (auto *box = qobject_cast<const QLineEdit *>(control)) {
        // QLineEdit keeps two pixels of its own on each side, and one more for the caret.
        const int frame = control->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, control);
        return box->contentsRect().marginsRemoved(box->textMargins()).size()
            - QSize(2 * frame + 5, 2 * frame);
    }
    return qobject_cast<const QGroupBox *>(control) ? control->size() - QSize(16, 0)
                                                    : control->contentsRect().size();
}

double luminance(const QColor &colour)
{
    const auto channel
        = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF())
        + 0.0722 * channel(colour.blueF());
}

// How far a caption stands out from what it is painted on: buttons and text
// boxes fill their own face, the rest show the nearest filled widget behind.
double captionContrast(const QWidget *control)
{
    const QPalette &palette = control->palette();
    QColor ink = palette.color(QPalette::WindowText);
    const QWidget *filled = control;
    while (filled->parentWidget() && !filled->autoFillBackground())
        filled = filled->parentWidget();
    QColor paper = filled->palette().color(filled->backgroundRole());
    if (qobject_cast<const QLineEdit *>(control))
        std::tie(ink, paper) = std::pair(palette.color(QPalette::Text), palette.color(QPalette::Base));
    else if (qobject_cast<const QPushButton *>(control))
        std::tie(ink, paper)
            = std::pair(palette.color(QPalette::ButtonText), palette.color(QPalette::Button));
    const double a = luminance(ink) + 0.05, b = luminance(paper) + 0.05;
    return std::max(a, b) / std::min(a, b);
}

// Every fault among the visible controls of a container and of the frames
// inside it, one line each: outside its frame, overlapping, a caption that
// does not fit or does not stand out, a text box too low for its scroll bar,
// a name a screen reader cannot tell from another's (`spoken` keeps the
// names heard so far, each with its control).
void collectLayoutFaults(const QWidget *container, QStringList &faults, QHash<QString, QString> &spoken)
{
    QRect room = container->rect();
    if (auto *frame = qobject_cast<const QGroupBox *>(container))
        room.setTop(QFontMetrics(frame->font()).height());
    else if (auto *frame = qobject_cast<const QFrame *>(container))
        room = frame->contentsRect();
    QList<QWidget *> controls = container->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    controls.removeIf([](QWidget *child) { return !child->isVisible() || child->objectName().isEmpty(); });
    for (qsizetype i = 0; i < controls.size(); ++i) {
        QWidget *control = controls[i];
        const QString name = control->objectName();
        if (!room.contains(control->geometry()))
            faults << name + QStringLiteral(" lies outside ") + container->objectName();
        for (qsizetype j = i + 1; j < controls.size(); ++j) {
            if (control->geometry().intersects(controls[j]->geometry()))
                faults << name + QStringLiteral(" overlaps ") + controls[j]->objectName();
        }
        const bool gauge = qobject_cast<const QProgressBar *>(control);
        QStringList texts
            = {RunTimeTexts.value(name), gauge ? QString() : control->property("text").toString(),
               control->property("title").toString()};
        texts.removeAll(QString());
        const QFontMetrics metrics(control->font());
        for (const QString &text : std::as_const(texts)) {
            const QSize room = textRoom(control);
            if (metrics.horizontalAdvance(text) > room.width() || metrics.height() > room.height())
                faults << QStringLiteral("%1: \"%2\" does not fit").arg(name, text);
        }
        if (!texts.isEmpty() && captionContrast(control) < 4.5)
            faults << name
                    + QStringLiteral(": caption contrast only %1").arg(captionContrast(control), 0, 'f', 1);
        const QStyle *style = control->style();
        if (qobject_cast<const QPlainTextEdit *>(control)
            && control->contentsRect().height() < 2 * style->pixelMetric(QStyle::PM_ScrollBarExtent)
                    + style->pixelMetric(QStyle::PM_ScrollBarSliderMin))
            faults << name + QStringLiteral(": too low for its scroll bar");
        const QString heard
            = QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name).toLower();
        if (heard.isEmpty() || spoken.contains(heard))
            faults << name + QStringLiteral(": heard as \"%1\", as is %2").arg(heard, spoken.value(heard));
        spoken.insert(heard, name);
        if (qobject_cast<const QGroupBox *>(control) || control->metaObject() == &QFrame::staticMetaObject)
            collectLayoutFaults(control, faults, spoken);
    }
}

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

// The window as the operator sees it: complete, tidy, in the panel's
// colours and heard by a screen reader; what the radio's text does to it,
// how the stream is cut into replies, and the text rules behind the displays.
class TestFrontPanel : public QObject
{
    Q_OBJECT

private slots:
    void formIsCompleteAndTidy_data()
    {
        QTest::addColumn<bool>("consoleShown");
        QTest::addColumn<QString>("family");
        QTest::newRow("start-up") << false << QString();
        // Read-outs showing the same reading are still told apart.
        QTest::newRow("console and lamps shown") << true << QString();
        // A machine without the panel's font falls back to a wider one.
        QTest::newRow("start-up, fallback font") << false << QStringLiteral("DejaVu Sans");
        QTest::newRow("console shown, fallback font") << true << QStringLiteral("DejaVu Sans");
    }

    // The port items are on their keys and the window starts without a link; in
    // one fixed-size window nothing overlaps, nothing sticks out of its frame,
    // every caption and every text the program writes fits and stands out
    // from its back, and every control has a name of its own for a screen
    // reader.
    void formIsCompleteAndTidy()
    {
        QFETCH(bool, consoleShown);
        QFETCH(QString, family);
        Station station;
        Rmt_Q9 &panel = station.start();
        for (int n = 1; n <= 10; ++n) {
            const auto *item = station.control<QAction>(qPrintable(QStringLiteral("Setcomm%1").arg(n)));
            QCOMPARE(item->shortcut(), QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_F1 + n - 1)));
        }
        COMPARE_SHOWS(station,
                      "Q9_present_ind=hidden|Server_Conn=hidden|Timer1=stopped|Timer2=every 1000 ms|"
                      "incr_edbox=0010|Label12=    | -000.500  | 0 | +000.500 | khz|fine_tune=0/50|"
                      "Debug_send=hidden|send_cmd=hidden|Text1=hidden|Label4=hidden|Label10=hidden|"
                      "rit_box=+0.00 cyan|rit_ind=blue|xit_ind=blue|lsb_md=checked|Smeter=0 yellow|"
                      "PowerSlider=1/150|CWSpeedSlider=9/50|SquelchSlider=0/10|SM_en=SMeter face");
        QVERIFY(QTime::fromString(station.control<QLineEdit>("utc_time")->text(), QStringLiteral("HH:mm:ss"))
                    .isValid());
        QCOMPARE(panel.windowTitle(), QStringLiteral("Q9 Remote v1.0 beta"));

        if (!family.isEmpty()) {
            QFont font = panel.centralWidget()->font();
            font.setFamilies({family});
            panel.centralWidget()->setFont(font);
        }
        station.perform(consoleShown ? QStringLiteral("trigger debug_on|reply Q91;!!;PC0501;KS010;SQ255;")
                                     : QStringLiteral("reply PC0501;"));
        station.control<QLabel>("Server_Conn")->setVisible(consoleShown);
        QCOMPARE(panel.centralWidget()->size(), QSize(796, 416));
        QCOMPARE(panel.minimumSize(), panel.maximumSize());
        QStringList faults;
        QHash<QString, QString> spoken;
        collectLayoutFaults(panel.centralWidget(), faults, spoken);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
    }

    void coloursOnScreen_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QColor>("colour");
        const QString inUse
            = QStringLiteral("reply Q91;FB00007040500;FT0;FW250011;GT002;NB11;KS020;PC0501;SQ050;SM0009;"
                             "AN2;RA01;IF00014060000     +012010 0002000001 ;|set CWsend CQ CQ DE Q9XYZ K");
        const QString console
            = QStringLiteral("trigger debug_on|set Debug_send FA;\nFB;\nIF;\nSM;\nPC;|reply FA00014060000;|"
                             "reply FB00007040500;|reply SM0009;|reply SM0011;|reply SM0012;");
        // clang-format off
        QTest::newRow("panel") << "" << "centralwidget" << QPoint(2, 2) << QColor(128, 128, 128);
        QTest::newRow("RIT frame") << "" << "Frame3" << QPoint(200, 6) << QColor(0, 0, 255);
        QTest::newRow("VFO read-out") << "" << "vfoa_edbox" << QPoint(10, 10) << QColor(0, 0, 0);
        QTest::newRow("CW box") << "" << "CWsend" << QPoint(10, 10) << QColor(224, 224, 224);
        QTest::newRow("button off") << "" << "att_cmd" << QPoint(8, 6) << PanelColour::buttonFace();
        QTest::newRow("panel_in_use") << inUse << "att_cmd" << QPoint(8, 6) << QColor(0, 255, 0);
        QTest::newRow("panel_debug") << console << "Text1" << QPoint(200, 30) << QColor(0, 128, 0);
        QTest::newRow("S-meter receiving") << "reply SM0015;" << "Smeter" << QPoint(20, 12) << QColor(255, 255, 0);
        QTest::newRow("S-meter transmitting") << "reply SM0015;IF00007040500     -005001 0013100001 ;" << "Smeter"
                                              << QPoint(20, 12) << QColor(128, 0, 0);
        // clang-format on
    }

    // Sampled from what the window paints, inside each control. The pictures
    // of the panel idle, in use and with the console on are kept for a person
    // to look at.
    void coloursOnScreen()
    {
        QFETCH(QString, steps);
        QFETCH(QString, control);
        QFETCH(QPoint, at);
        QFETCH(QColor, colour);
        const QString name = QString::fromLatin1(QTest::currentDataTag());
        Station station;
        station.writeSettings("1,\"192.168.1.20\",\"+8\",#FALSE#,#FALSE#\r\n");
        station.start().setLocalTimeSource([] { return QTime(21, 2, 30); });
        if (name.startsWith(u"panel"))
            TRY_COMPARE_SHOWS(station, "utc_time=05:02:30");
        station.perform(steps);
        station.control<QLabel>("Server_Conn")->setVisible(steps.startsWith(u"reply Q91;"));
        const QImage picture = station.panel().grab().toImage();
        const QPoint pixel = station.control<QWidget>(qPrintable(control))->mapTo(&station.panel(), at);
        QCOMPARE(picture.pixelColor(pixel * station.panel().devicePixelRatio()), colour);
        if (name.startsWith(u"panel"))
            QVERIFY(QDir().mkpath(QStringLiteral(Q9_SCREENSHOT_DIR))
                    && picture.save(QStringLiteral(Q9_SCREENSHOT_DIR "/%1.png").arg(name)));
    }

    // What the panel shows by colour alone, and the readings beside the
    // sliders, reach a screen reader too.
    void screenReaderHearsWhatColoursShow()
    {
        Station station;
        station.start().show();
        const auto states = [&station] {
            const auto heard = [&station](const char *name) {
                return QAccessible::queryAccessibleInterface(station.find(QString::fromLatin1(name)));
            };
            return QStringLiteral("PRE %1, RIT %2, power %3")
                .arg(heard("AIP_cmd")->state().checked ? u"checked" : u"unchecked",
                     heard("rit_ind")->text(QAccessible::Description),
                     heard("PWR")->text(QAccessible::Description));
        };
        QCOMPARE(states(), QStringLiteral("PRE unchecked, RIT off, power 10.5W"));
        station.perform(QStringLiteral("reply PA1;PC0501;IF00014060000     +012010 0002000001 ;"));
        QCOMPARE(states(), QStringLiteral("PRE checked, RIT on, power 05.0W"));
        station.perform(QStringLiteral("reply PA0;PC010;IF00014060000     +012000 0002000001 ;"));
        QCOMPARE(states(), QStringLiteral("PRE unchecked, RIT off, power 10W"));
    }

    void replyShowsOnThePanel_data()
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
            "cw_md=checked|vfob_edbox=07040.50|vfoa_edbox=|rx_vfob=RX green|rx_vfoa=RX face|Smeter=0 dark red|"
            "rit_box=-0.05 cyan|rit_ind=blue|xit_ind=green");
        row("MD3;IF00003500000     +000000 0005000001 ;",
            "cw_md=checked|vfoa_edbox=03500.00|rit_box= 0.00 black|rit_ind=blue|xit_ind=blue");
        row("IFX00007074000     +000000 0006000001 ;", "vfob_edbox=07074.00|data_md=checked");
        row("IF00014060000     -999901 0002000001 ;", "rit_box=-9.99 cyan|rit_ind=blue|xit_ind=green");
        row("IF00014060000     +100000 0002000001 ;", "rit_box=+1.00 black|rit_ind=blue|xit_ind=blue");
        row("IF00014060000     +000020 0002000001 ;", "rit_box= 0.00 black|rit_ind=blue");
        // clang-format on
    }

    // Each row starts from a fresh panel and hands it the text as one chunk.
    void replyShowsOnThePanel()
    {
        QFETCH(QString, replies);
        QFETCH(QString, shows);
        Station station;
        station.start().ReceiveText(replies);
        QCOMPARE(station.shows(shows), shows);
    }

    void framingIsTheSameUnderEverySplit()
    {
        const QStringList whole = frame({Stream});
        QCOMPARE(
            whole,
            QStringList({"FA00014060000;", "FB00007040500;", "\r\nIF00014060000     +012010 0002000001 ;",
                         ";", "SM0007;", "GT0021;", "NB10;", "PC0501;"}));
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

    void debugWindowEchoesEachChunk()
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

    void bothLinksCarryTheRadiosText_data()
    {
        QTest::addColumn<bool>("server");
        QTest::newRow("serial port") << false;
        QTest::newRow("relay server") << true;
    }

    // The radio's text reaches the panel alike on either link: every byte
    // value crosses, ";" itself included (the noise after it is ended by one
    // more), and more than the link hands on at once follows unasked, down to
    // the reply's last byte alone after the last whole chunk. A reply cut
    // anywhere arrives whole, each piece echoed as it came.
    void bothLinksCarryTheRadiosText()
    {
        QFETCH(bool, server);
        Station station;
        station.perform(QStringLiteral("trigger debug_on"));
        if (server)
            station.connectServer(loopbackAddress());
        else
            station.connectSerial();
        auto *echo = station.control<QPlainTextEdit>("Text1");
        const QByteArray last = "FB00028074000;";
        emit station.radio.output(
            everyByteValue().repeated(40).leftJustified(3 * RadioLink::ChunkBytes + 1 - last.size(), ';')
            + last);
        TRY_COMPARE_SHOWS(station, "vfob_edbox=28074.00");
        QVERIFY(echo->toPlainText().contains(QStringLiteral("\u00fe\u00ff")));
        for (int cut = 1; cut < last.size(); ++cut) {
            const QByteArray reply = "FB000" + QByteArray::number(28'074'000 + 10 * cut) + ';';
            const QString pieces = u'\n' + QString::fromLatin1(reply.left(cut)) + u'\n' + reply.mid(cut);
            emit station.radio.output(reply.left(cut));
            QTRY_VERIFY(echo->toPlainText().endsWith(pieces.left(cut + 1)));
            emit station.radio.output(reply.mid(cut));
            TRY_COMPARE_SHOWS(station, QStringLiteral("vfob_edbox=28074.%1").arg(cut, 2, 10, QChar(u'0')));
            QVERIFY(echo->toPlainText().endsWith(pieces));
        }
        QVERIFY(station.dialogs.messages.isEmpty());
    }

    void textRules_data()
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
        row("clock to the day before", utcClockText(QTime(2, 0, 0), QStringLiteral("-5")), "21:00:00");
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

    void textRules()
    {
        QFETCH(QString, result);
        QFETCH(QString, expected);
        QCOMPARE(result, expected);
    }
};

QTEST_MAIN(TestFrontPanel)
#include "tst_front_panel.moc"
