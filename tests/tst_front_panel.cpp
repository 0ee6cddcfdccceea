#include "station.h"

#include "app/panel_colours.h"

#include <QAccessible>
#include <QAction>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QTest>

#include <cmath>

// The window as the operator first sees it: complete, tidy, in the panel's
// colours.
class TestFrontPanel : public QObject
{
    Q_OBJECT

private slots:
    void formIsCompleteAndTidy_data();
    void formIsCompleteAndTidy();
    void coloursOnScreen_data();
    void coloursOnScreen();
    void screenReaderHearsEveryControl();
    void screenshots();
};

namespace {

// Texts the program writes into controls after start-up; each must fit as
// well as the design text does.
// clang-format off
const QHash<QString, QString> RunTimeTexts{
    {QStringLiteral("vfoa_edbox"), QStringLiteral("88888.88")}, {QStringLiteral("vfob_edbox"), QStringLiteral("88888.88")},
    {QStringLiteral("utc_time"), QStringLiteral("23:59:59")}, {QStringLiteral("fil_bw"), QStringLiteral("FL2/2500")},
    {QStringLiteral("rit_box"), QStringLiteral("-9.99")}, {QStringLiteral("SPD"), QStringLiteral("50")},
    {QStringLiteral("PWR"), QStringLiteral("15.0W")}, {QStringLiteral("Ant1_2"), QStringLiteral("ANT 2")},
    {QStringLiteral("Afil"), QStringLiteral("AF2")}, {QStringLiteral("NB_level"), QStringLiteral("High")},
    {QStringLiteral("Label12"), QStringLiteral("    | --050.000  | 0 | +-050.000 | khz")},
};
// clang-format on

// A frame's title or a control's text; a gauge's text is never shown.
QString caption(const QWidget *control)
{
    if (qobject_cast<const QProgressBar *>(control))
        return {};
    return control->property(qobject_cast<const QGroupBox *>(control) ? "title" : "text").toString();
}

// The space a control leaves for one line of its text, after the style's
// frame, margins and indicator.
QSize textRoom(const QWidget *control)
{
    if (auto *button = qobject_cast<const QAbstractButton *>(control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const bool option_ = qobject_cast<const QRadioButton *>(control);
        return control->style()
            ->subElementRect(option_ ? QStyle::SE_RadioButtonContents : QStyle::SE_PushButtonContents,
                             &option, control)
            .size();
    }
    if (auto *box = qobject_cast<const QLineEdit *>(control)) {
        // QLineEdit keeps two pixels of its own on each side, and one more for the caret.
        const int frame = control->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, control);
        return box->contentsRect().marginsRemoved(box->textMargins()).size()
            - QSize(2 * frame + 5, 2 * frame);
    }
    if (qobject_cast<const QGroupBox *>(control))
        return QSize(control->width() - 16, control->height());
    return control->contentsRect().size();
}

double luminance(const QColor &colour)
{
    const auto channel
        = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF())
        + 0.0722 * channel(colour.blueF());
}

// What a caption is painted in and on: buttons and text boxes fill their
// own face, the rest show the nearest filled widget behind them.
std::pair<QColor, QColor> captionColours(const QWidget *control)
{
    const QPalette &palette = control->palette();
    if (qobject_cast<const QLineEdit *>(control))
        return {palette.color(QPalette::Text), palette.color(QPalette::Base)};
    if (qobject_cast<const QPushButton *>(control))
        return {palette.color(QPalette::ButtonText), palette.color(QPalette::Button)};
    const QWidget *filled = control;
    while (filled->parentWidget() && !filled->autoFillBackground())
        filled = filled->parentWidget();
    return {palette.color(QPalette::WindowText), filled->palette().color(filled->backgroundRole())};
}

// Every fault among the visible controls of a container and of the frames
// inside it, one line each: outside its frame, overlapping, a caption that
// does not fit or does not stand out.
void collectLayoutFaults(const QWidget *container, QStringList &faults)
{
    QRect room = container->rect();
    if (auto *frame = qobject_cast<const QGroupBox *>(container))
        room.setTop(QFontMetrics(frame->font()).height());
    else if (auto *frame = qobject_cast<const QFrame *>(container))
        room = frame->contentsRect();
    QList<QWidget *> controls;
    for (QWidget *child : container->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (child->isVisible() && !child->objectName().isEmpty())
            controls.append(child);
    }
    for (qsizetype i = 0; i < controls.size(); ++i) {
        const QWidget *control = controls[i];
        const QString name = control->objectName();
        if (!room.contains(control->geometry()))
            faults << name + QStringLiteral(" lies outside ") + container->objectName();
        for (qsizetype j = i + 1; j < controls.size(); ++j) {
            if (control->geometry().intersects(controls[j]->geometry()))
                faults << name + QStringLiteral(" overlaps ") + controls[j]->objectName();
        }
        QStringList texts = {RunTimeTexts.value(name), caption(control)};
        texts.removeAll(QString());
        const QFontMetrics metrics(control->font());
        const QSize space = textRoom(control);
        for (const QString &text : std::as_const(texts)) {
            if (metrics.horizontalAdvance(text) > space.width() || metrics.height() > space.height())
                faults << QStringLiteral("%1: \"%2\" does not fit").arg(name, text);
        }
        const auto [ink, paper] = captionColours(control);
        const double contrast = (std::max(luminance(ink), luminance(paper)) + 0.05)
            / (std::min(luminance(ink), luminance(paper)) + 0.05);
        if (!texts.isEmpty() && contrast < 4.5)
            faults << QStringLiteral("%1: caption contrast only %2").arg(name).arg(contrast, 0, 'f', 1);
        const QStyle *style = control->style();
        if (qobject_cast<const QPlainTextEdit *>(control)
            && control->contentsRect().height() < 2 * style->pixelMetric(QStyle::PM_ScrollBarExtent)
                    + style->pixelMetric(QStyle::PM_ScrollBarSliderMin))
            faults << name + QStringLiteral(": too low for its scroll bar");
        if (qobject_cast<const QGroupBox *>(control) || control->metaObject() == &QFrame::staticMetaObject)
            collectLayoutFaults(control, faults);
    }
}

QColor pixelAt(QWidget &window, const char *name, QPoint offset)
{
    const QWidget *control = window.findChild<QWidget *>(QString::fromLatin1(name));
    return window.grab().toImage().pixelColor(control->mapTo(&window, offset) * window.devicePixelRatio());
}

QString screenshotPath(const char *name)
{
    QDir().mkpath(QStringLiteral(Q9_SCREENSHOT_DIR));
    return QStringLiteral(Q9_SCREENSHOT_DIR "/%1.png").arg(QString::fromLatin1(name));
}

} // namespace

void TestFrontPanel::formIsCompleteAndTidy_data()
{
    // clang-format off
    QTest::addColumn<bool>("consoleShown");
    QTest::addColumn<QString>("family");
    QTest::newRow("start-up") << false << QString();
    QTest::newRow("console and lamps shown") << true << QString();
    // A machine without the panel's font falls back to a wider one.
    QTest::newRow("start-up, fallback font") << false << QStringLiteral("DejaVu Sans");
    QTest::newRow("console shown, fallback font") << true << QStringLiteral("DejaVu Sans");
    // clang-format on
}

// Every control the operator needs is there by its designer name, the port
// items on their keys, and the window starts without a link; in one fixed-
// size window nothing overlaps, nothing sticks out of its frame, and every
// caption and every text the program writes fits and stands out from its back.
void TestFrontPanel::formIsCompleteAndTidy()
{
    QFETCH(bool, consoleShown);
    QFETCH(QString, family);
    Station station;
    Rmt_Q9 &panel = station.start();
    // clang-format off
    const QString names = QStringLiteral(
        "Label3 Smeter SM_en Q9_present_ind Server_Conn Shape1 VFO_A_Label VFO_B_Label vfoa_edbox vfob_edbox "
        "rx_vfoa tx_vfoa rx_vfob tx_vfob a2b b2a Label13 utc_time AIP_cmd att_cmd spot Ant1_2 Tune AGC_on "
        "AGC_Frame AGC_Fast AGC_Slow NB NB_level xfil fil_bw Afil Frame1 BandUp BandDn up10hz dn10hz up100hx "
        "dn100hz up1 dn1 fine_tune Label12 clr_slide Label7 incr_edbox Frame3 rit_box rit_cmd xit_cmd rit_clr "
        "rit_ind xit_ind ru10 rd10 ru50 rd50 ru1k rd1k MD_Frame lsb_md usb_md cw_md cwr_md data_md datar_md "
        "Label6 SPD CWSpeedSlider Label8 PWR PowerSlider Label5 SQ SquelchSlider CWsend CW_SendBuff CW_Stop "
        "CW_ClearBox Label4 Debug_send send_cmd Label10 Text1 Timer1 Timer2 Link CommPort Set_Host_Addr "
        "set_options set_UTC Auto_comm_con debug_on exit_cmd");
    // clang-format on
    for (const QString &name : names.split(u' '))
        QVERIFY2(station.find(name), qPrintable(name));
    COMPARE_SHOWS(station,
                  "Q9_present_ind=hidden|Server_Conn=hidden|Timer1=stopped|Timer2=every 1000 ms|"
                  "incr_edbox=0010|Label12=    | -000.500  | 0 | +000.500 | khz|fine_tune=0/50|"
                  "Debug_send=hidden|send_cmd=hidden|Text1=hidden|Label4=hidden|Label10=hidden|"
                  "rit_box=+0.00 cyan|rit_ind=blue|xit_ind=blue|lsb_md=checked|Smeter=0 yellow|"
                  "PowerSlider=1/150|CWSpeedSlider=9/50|SquelchSlider=0/10|SM_en=SMeter face");
    QVERIFY(QTime::fromString(station.control<QLineEdit>("utc_time")->text(), QStringLiteral("HH:mm:ss"))
                .isValid());
    QCOMPARE(panel.windowTitle(), QStringLiteral("Q9 Remote v1.0 beta"));
    for (int n = 1; n <= 10; ++n) {
        const auto *item = station.control<QAction>(qPrintable(QStringLiteral("Setcomm%1").arg(n)));
        QCOMPARE(item->shortcut(), QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_F1 + n - 1)));
    }

    if (!family.isEmpty()) {
        QFont font = panel.centralWidget()->font();
        font.setFamilies({family});
        panel.centralWidget()->setFont(font);
    }
    if (consoleShown)
        station.perform(QStringLiteral("trigger debug_on|reply Q91;!!;"));
    station.perform(QStringLiteral("reply PC0501;"));
    station.control<QLabel>("Server_Conn")->setVisible(consoleShown);
    QCOMPARE(panel.centralWidget()->size(), QSize(796, 416));
    QCOMPARE(panel.minimumSize(), panel.maximumSize());

    QStringList faults;
    collectLayoutFaults(panel.centralWidget(), faults);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
}

void TestFrontPanel::coloursOnScreen_data()
{
    // clang-format off
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QByteArray>("control");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("panel") << "" << QByteArray("centralwidget") << QPoint(2, 2) << QColor(128, 128, 128);
    QTest::newRow("RIT frame") << "" << QByteArray("Frame3") << QPoint(200, 6) << QColor(0, 0, 255);
    QTest::newRow("VFO read-out") << "" << QByteArray("vfoa_edbox") << QPoint(10, 10) << QColor(0, 0, 0);
    QTest::newRow("CW box") << "" << QByteArray("CWsend") << QPoint(10, 10) << QColor(224, 224, 224);
    QTest::newRow("console") << "trigger debug_on" << QByteArray("Text1") << QPoint(10, 10) << QColor(0, 128, 0);
    QTest::newRow("button on") << "reply RA01;" << QByteArray("att_cmd") << QPoint(8, 6) << QColor(0, 255, 0);
    QTest::newRow("button off") << "" << QByteArray("att_cmd") << QPoint(8, 6) << PanelColour::buttonFace();
    QTest::newRow("S-meter receiving") << "reply SM0015;" << QByteArray("Smeter") << QPoint(20, 12) << QColor(255, 255, 0);
    QTest::newRow("S-meter transmitting") << "reply SM0015;IF00007040500     -005001 0013100001 ;" << QByteArray("Smeter")
                                          << QPoint(20, 12) << QColor(128, 0, 0);
    // clang-format on
}

// Sampled from what the window paints, inside each control.
void TestFrontPanel::coloursOnScreen()
{
    QFETCH(QString, steps);
    QFETCH(QByteArray, control);
    QFETCH(QPoint, at);
    QFETCH(QColor, colour);
    Station station;
    station.perform(steps);
    QCOMPARE(pixelAt(station.panel(), control.constData(), at), colour);
}

// Every control and display has a name of its own for a screen reader, and
// what the panel shows by colour alone reaches it too.
void TestFrontPanel::screenReaderHearsEveryControl()
{
    Station station;
    station.perform(QStringLiteral("trigger debug_on|reply Q91;"));
    station.control<QLabel>("Server_Conn")->show();
    QHash<QString, QString> heardAs;
    for (QWidget *control : station.panel().centralWidget()->findChildren<QWidget *>()) {
        if (!control->isVisible() || control->objectName().isEmpty()
            || control->objectName().startsWith(u"qt_"))
            continue;
        const QString name
            = QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name).simplified().toLower();
        QVERIFY2(!name.isEmpty(), qPrintable(control->objectName()));
        QVERIFY2(!heardAs.contains(name),
                 qPrintable(control->objectName() + QStringLiteral(" sounds like ") + heardAs[name]));
        heardAs.insert(name, control->objectName());
    }

    const auto states = [&station] {
        QAccessibleInterface *preamp
            = QAccessible::queryAccessibleInterface(station.find(QStringLiteral("AIP_cmd")));
        QAccessibleInterface *lamp
            = QAccessible::queryAccessibleInterface(station.find(QStringLiteral("rit_ind")));
        return QStringLiteral("PRE %1, RIT %2")
            .arg(preamp->state().checked ? u"checked" : u"unchecked", lamp->text(QAccessible::Description));
    };
    QCOMPARE(states(), QStringLiteral("PRE unchecked, RIT off"));
    station.perform(QStringLiteral("reply PA1;IF00014060000     +012010 0002000001 ;"));
    QCOMPARE(states(), QStringLiteral("PRE checked, RIT on"));
    station.perform(QStringLiteral("reply PA0;IF00014060000     +012000 0002000001 ;"));
    QCOMPARE(states(), QStringLiteral("PRE unchecked, RIT off"));
}

// Pictures for a person to look at: idle, in use with the radio's state,
// and with the debug console on.
void TestFrontPanel::screenshots()
{
    Station station;
    Rmt_Q9 &panel = station.start();
    panel.setLocalTimeSource([] { return QTime(21, 2, 30); });
    TRY_COMPARE_SHOWS(station, "utc_time=05:02:30");
    station.perform(QString());
    QVERIFY(panel.grab().save(screenshotPath("panel")));

    station.perform(
        QStringLiteral("reply Q91;FB00007040500;FT0;FW250011;GT002;NB11;KS020;PC0501;SQ050;SM0009;"
                       "AN2;RA01;IF00014060000     +012010 0002000001 ;|set CWsend CQ CQ DE Q9XYZ K"));
    station.control<QLabel>("Server_Conn")->show();
    QVERIFY(panel.grab().save(screenshotPath("panel_in_use")));

    station.perform(
        QStringLiteral("trigger debug_on|set Debug_send FA;\nFB;\nIF;\nSM;\nPC;|reply FA00014060000;|"
                       "reply FB00007040500;|reply SM0009;|reply SM0011;|reply SM0012;"));
    QTRY_VERIFY(station.control<QPlainTextEdit>("Text1")->verticalScrollBar()->isVisible());
    QVERIFY(panel.grab().save(screenshotPath("panel_debug")));
}

QTEST_MAIN(TestFrontPanel)
#include "tst_front_panel.moc"
