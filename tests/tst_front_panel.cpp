#include "programs.h"
#include "station.h"

#include "app/numbers.h"
#include "app/panel_colours.h"
#include "app/utc_clock.h"
#include "framer.h"
#include "link/radio_link.h"
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

// What a screen reader hears of a control that shows something by its colour
// or its reading, if that is not what the panel shows: a button is checked
// while it is green, a lamp is "on" or "off", a read-out tells its reading.
QString toldOtherwise(const QWidget *control, const QAccessibleInterface *reader)
{
    const bool on = backColour(control) == PanelColour::On;
    QString told = reader->text(QAccessible::Description), seen = control->property("text").toString();
    if (qobject_cast<const QAbstractButton *>(control) && showsStateByColour(control))
        std::tie(told, seen) = std::pair(QString::number(reader->state().checked), QString::number(on));
    else if (qobject_cast<const QLabel *>(control) && showsStateByColour(control))
        seen = QString::fromLatin1(on ? "on" : "off");
    else if (!QStringList{"SPD", "PWR", "SQ"}.contains(control->objectName()))
        return {};
    return told == seen ? QString() : QStringLiteral("\"%1\" for \"%2\"").arg(told, seen);
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
        const QAccessibleInterface *reader = QAccessible::queryAccessibleInterface(control);
        const QString heard = reader->text(QAccessible::Name).toLower();
        if (heard.isEmpty() || spoken.contains(heard))
            faults << name + QStringLiteral(": heard as \"%1\", as is %2").arg(heard, spoken.value(heard));
        spoken.insert(heard, name);
        if (const QString told = toldOtherwise(control, reader); !told.isEmpty())
            faults << name + QStringLiteral(": heard ") + told;
        if (qobject_cast<const QGroupBox *>(control) || control->metaObject() == &QFrame::staticMetaObject)
            collectLayoutFaults(control, faults, spoken);
    }
}

// Status records: VFO A at 14060 kHz in USB with RIT on at +120 Hz, and VFO B
// at 7040.5 kHz receiving in CW and transmitting, with XIT on at -50 Hz.
const QString RitOn = statusRecord({.offset = 120, .rit = true});
const QString TransmittingOnB = statusRecord({.vfo = {14'060'000, 7'040'500},
                                              .receiveVfo = 1,
                                              .mode = 3,
                                              .offset = -50,
                                              .xit = true,
                                              .transmitting = true});

} // namespace

// The window as the operator sees it: complete, tidy, in the panel's
// colours and heard by a screen reader; what the radio's text does to it,
// how the stream is cut into replies, and the text rules behind the displays.
class TestFrontPanel : public QObject
{
    Q_OBJECT

private slots:
    void panelAsDrawn_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("family");
        QTest::addColumn<QString>("sampled");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QColor>("colour");
        // The lamps on, and read-outs showing the same reading, still told apart.
        const QString inUse
            = "reply Q91;!!;FB00007040500;FT0;FW250011;GT002;NB11;KS010;PC0501;SQ255;SM0009;AN2;RA01;PA1;"
            + RitOn + "|set CWsend CQ CQ DE Q9XYZ K";
        const QString console
            = QStringLiteral("trigger debug_on|set Debug_send FA;\nFB;\nIF;\nSM;\nPC;|reply FA00014060000;|"
                             "reply FB00007040500;|reply SM0009;|reply SM0011;|reply Q91;!!;KS010;SQ255;");
        // clang-format off
        QTest::newRow("panel") << "" << "" << "centralwidget" << QPoint(2, 2) << QColor(128, 128, 128);
        QTest::newRow("RIT frame") << "" << "" << "Frame3" << QPoint(200, 6) << QColor(0, 0, 255);
        QTest::newRow("VFO read-out") << "" << "" << "vfoa_edbox" << QPoint(10, 10) << QColor(0, 0, 0);
        QTest::newRow("CW box") << "" << "" << "CWsend" << QPoint(10, 10) << QColor(224, 224, 224);
        QTest::newRow("button off") << "" << "" << "att_cmd" << QPoint(8, 6) << PanelColour::buttonFace();
        QTest::newRow("panel_in_use") << inUse << "" << "att_cmd" << QPoint(8, 6) << QColor(0, 255, 0);
        QTest::newRow("panel_debug") << console << "" << "Text1" << QPoint(200, 30) << QColor(0, 128, 0);
        // A machine without the panel's font falls back to a wider one.
        QTest::newRow("console, fallback font") << console << "DejaVu Sans" << "Text1" << QPoint(200, 30) << QColor(0, 128, 0);
        QTest::newRow("S-meter receiving") << "reply SM0015;" << "" << "Smeter" << QPoint(20, 12) << QColor(255, 255, 0);
        QTest::newRow("S-meter transmitting") << "reply SM0015;" + TransmittingOnB << "" << "Smeter" << QPoint(20, 12)
                                              << QColor(128, 0, 0);
        // clang-format on
    }

    // The panel as drawn. It starts without a link, its port items on their
    // keys. In one fixed-size window nothing overlaps, nothing sticks out of
    // its frame, every caption and every text the program writes fits and
    // stands out from its back, and every control has a name of its own for a
    // screen reader, which also hears what colours and read-outs show. The
    // colours are sampled from what the window paints, inside each control;
    // the pictures of the panel idle, in use and with the console on are kept
    // for a person to look at.
    void panelAsDrawn()
    {
        QFETCH(QString, steps);
        QFETCH(QString, family);
        QFETCH(QString, sampled);
        QFETCH(QPoint, at);
        QFETCH(QColor, colour);
        Station station;
        station.writeSettings("1,\"192.168.1.20\",\"+8\",#FALSE#,#FALSE#\r\n");
        Rmt_Q9 &panel = station.start();
        panel.setLocalTimeSource([] { return QTime(21, 2, 30); });
        for (int n = 1; n <= 10; ++n) {
            FIND_CONTROL(QAction, item, station, QStringLiteral("Setcomm%1").arg(n));
            QCOMPARE(item->shortcut(), QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_F1 + n - 1)));
        }
        COMPARE_SHOWS(station,
                      "Q9_present_ind=hidden|Server_Conn=hidden|Timer1=stopped|Timer2=every 1000 ms|"
                      "incr_edbox=0010|Label12=    | -000.500  | 0 | +000.500 | khz|fine_tune=0/50|"
                      "Debug_send=hidden|send_cmd=hidden|Text1=hidden|Label4=hidden|Label10=hidden|"
                      "rit_box=+0.00 cyan|rit_ind=blue|xit_ind=blue|lsb_md=checked|Smeter=0 yellow|"
                      "PowerSlider=1/150|CWSpeedSlider=9/50|SquelchSlider=0/10|SM_en=SMeter face");
        QCOMPARE(panel.windowTitle(), QStringLiteral("Q9 Remote v1.0 beta"));
        TRY_COMPARE_SHOWS(station, "utc_time=05:02:30");
        if (!family.isEmpty()) {
            QFont font = panel.centralWidget()->font();
            font.setFamilies({family});
            panel.centralWidget()->setFont(font);
        }
        PERFORM(station, steps);
        FIND_CONTROL(QLabel, serverLamp, station, "Server_Conn");
        serverLamp->setVisible(steps.contains(u"!!;"));
        QCOMPARE(panel.centralWidget()->size(), QSize(796, 416));
        QCOMPARE(panel.minimumSize(), panel.maximumSize());
        QStringList faults;
        QHash<QString, QString> spoken;
        collectLayoutFaults(panel.centralWidget(), faults, spoken);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));

        FIND_CONTROL(QWidget, target, station, sampled);
        const QImage picture = panel.grab().toImage();
        QCOMPARE(picture.pixelColor(target->mapTo(&panel, at) * panel.devicePixelRatio()), colour);
        const QString name = QString::fromLatin1(QTest::currentDataTag());
        if (name.startsWith(u"panel"))
            QVERIFY(QDir().mkpath(QStringLiteral(Q9_SCREENSHOT_DIR))
                    && picture.save(QStringLiteral(Q9_SCREENSHOT_DIR "/%1.png").arg(name)));
    }

    void replyShowsOnThePanel_data()
    {
        // clang-format off
        QTest::addColumn<QString>("replies");
        QTest::addColumn<QString>("shows");
        const auto row = [](const QString &replies, const char *shows) {
            QTest::newRow(qPrintable(replies)) << replies << QString::fromLatin1(shows);
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
        row(RitOn,
            "usb_md=checked|vfoa_edbox=14060.00|rx_vfoa=RX green|rx_vfob=RX face|Tune=TUNE face|Smeter=0 yellow|"
            "rit_box=+0.12 cyan|rit_ind=green|xit_ind=blue");
        row(TransmittingOnB,
            "cw_md=checked|vfob_edbox=07040.50|vfoa_edbox=|rx_vfob=RX green|rx_vfoa=RX face|Smeter=0 dark red|"
            "rit_box=-0.05 cyan|rit_ind=blue|xit_ind=green");
        row("MD3;" + statusRecord({.vfo = {3'500'000, 7'030'000}, .mode = 5, .offset = 1000}),
            "cw_md=checked|vfoa_edbox=03500.00|rit_box=+1.00 black|rit_ind=blue|xit_ind=blue");
        row("IFX00007074000     +000000 0006000001 ;", "vfob_edbox=07074.00|data_md=checked");
        row(statusRecord({.offset = -9990, .xit = true}), "rit_box=-9.99 cyan|rit_ind=blue|xit_ind=green");
        // A switch other than 0 and 1 is not on.
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

    // The radio's text cut after every ";", with nothing stripped; noise that
    // never ends a reply is dropped whole, up to the ";" that ends it.
    void framingCutsAtEverySemicolon()
    {
        Framer framer(Rmt_Q9::MaxReply);
        QCOMPARE(
            framer.feed("FA00014060000;FB00007040500;\r\n" + RitOn.toLatin1() + ";SM0007;"),
            QByteArrayList({"FA00014060000;", "FB00007040500;", "\r\n" + RitOn.toLatin1(), ";", "SM0007;"}));
        for (int i = 0; i < 1000; ++i)
            QVERIFY(framer.feed(QByteArray(1000, 'x')).isEmpty());
        QCOMPARE(framer.feed("\r\nFA00014060000;SM0007;"), QByteArrayList{"SM0007;"});
    }

    void debugWindowEchoesEachChunk()
    {
        Station station;
        PERFORM(station, QStringLiteral("reply FA000|trigger debug_on|reply 14060000;|reply |reply SM0007;"));
        COMPARE_SHOWS(station, "Text1=\n14060000;\n\nSM0007;|vfoa_edbox=14060.00");
        // The greeting replaces the window, but only while it is shown; what
        // arrives while it is hidden is not echoed.
        PERFORM(station, QStringLiteral("reply !!relay;"));
        COMPARE_SHOWS(station, "Text1=R9Ezuziz Connected");
        PERFORM(station, QStringLiteral("trigger debug_on|reply !!;|reply FB;|trigger debug_on"));
        COMPARE_SHOWS(station, "Text1=R9Ezuziz Connected");

        // Hours of S-meter replies keep only the newest lines.
        for (int i = 0; i < 10000; ++i)
            station.panel().ReceiveText(QStringLiteral("SM%1;").arg(i % 16, 4, 10, QChar(u'0')));
        FIND_CONTROL(QPlainTextEdit, window, station, "Text1");
        QVERIFY(window->blockCount() <= 5000);
        QVERIFY(window->toPlainText().endsWith(QStringLiteral("\nSM0015;")));

        // Megabytes in one read, as a relay may hand them on: the window shows a
        // screenful of it with the count of what it left out, every reply is
        // still interpreted, and long lines too leave the window within its bound.
        PERFORM(station, QStringLiteral("reply FA000"));
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
        PERFORM(station, "trigger debug_on|link " + (server ? "server " + loopbackAddress() : "serial"));
        FIND_CONTROL(QPlainTextEdit, echo, station, "Text1");
        const QByteArray last = "FB00028074000;";
        emit station.radio.output(
            everyByteValue().repeated(40).leftJustified(3 * RadioLink::ChunkBytes + 1 - last.size(), ';')
            + last);
        TRY_COMPARE_SHOWS(station, "vfob_edbox=28074.00");
        QVERIFY(echo->toPlainText().contains(QStringLiteral("\u00fe\u00ff")));
        for (int cut = 1; cut < last.size(); ++cut) {
            const QByteArray reply = "FB000" + QByteArray::number(28'074'000 + 10 * cut) + ';';
            const QString pieces = u'\n' + QString::fromLatin1(reply.left(cut)) + u'\n' + reply.mid(cut);
            // The relay hands its clients whole replies: only the serial line
            // shows the pieces.
            const QString echoed = server ? u'\n' + QString::fromLatin1(reply) : pieces;
            emit station.radio.output(reply.left(cut));
            if (!server)
                QTRY_VERIFY(echo->toPlainText().endsWith(pieces.left(cut + 1)));
            emit station.radio.output(reply.mid(cut));
            TRY_COMPARE_SHOWS(station, QStringLiteral("vfob_edbox=28074.%1").arg(cut, 2, 10, QChar(u'0')));
            QVERIFY(echo->toPlainText().endsWith(echoed));
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
        // Where the server box points: host and port, secure or not, and
        // the relay's key pinned under that host and port.
        const auto server = [](const char *text) {
            const ServerAddress address = serverAddressFrom(QString::fromLatin1(text));
            return address.host + u' ' + QString::number(address.port) + (address.secure ? " tls" : "");
        };
        const auto pinnedAs = [](const char *text) { return serverAddressFrom(QString::fromLatin1(text)).hostPort(); };
        row("IPv6 alone", server("fd00::7"), "fd00::7 2300");
        row("IPv6 in brackets", server("[::1]"), "::1 2300");
        row("not a port", server("shack:99999"), "shack:99999 2300");
        row("secure by name", server("tls:station.example.org"), "station.example.org 2300 tls");
        row("secure IPv6 with port", server("tls:[2001:db8::1]:2300"), "2001:db8::1 2300 tls");
        row("secure IPv4 with port", server("TLS:192.0.2.7:4000"), "192.0.2.7 4000 tls");
        row("secure, not a port", server("tls:shack:0"), "shack:0 2300 tls");
        row("pinned by name", pinnedAs("tls:Shack.Example.ORG"), "shack.example.org:2300");
        row("pinned by address", pinnedAs("tls:[2001:DB8:0::1]:2301"), "[2001:db8::1]:2301");
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
