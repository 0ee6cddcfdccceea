#include "panel_fixture.h"

#include <QAbstractSlider>
#include <QAction>
#include <QDir>
#include <QGroupBox>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTime>

#include <cmath>

namespace {
// Stands for any time of day in the rows below.
const QString ClockText = QStringLiteral("hh:mm:ss");
}

namespace {

// Texts the program writes into controls after start-up; each must fit as
// well as the design text does.
const QHash<QString, QStringList> RunTimeTexts{
    {QStringLiteral("vfoa_edbox"), {QStringLiteral("88888.88")}},
    {QStringLiteral("vfob_edbox"), {QStringLiteral("88888.88")}},
    {QStringLiteral("utc_time"), {QStringLiteral("23:59:59")}},
    {QStringLiteral("fil_bw"), {QStringLiteral("FL2/2500")}},
    {QStringLiteral("rit_box"), {QStringLiteral("-9.99"), QStringLiteral(" 0.00")}},
    {QStringLiteral("SPD"), {QStringLiteral("50")}},
    {QStringLiteral("PWR"), {QStringLiteral("15.0W"), QStringLiteral("10W")}},
    {QStringLiteral("SQ"), {QStringLiteral("10")}},
    {QStringLiteral("Ant1_2"), {QStringLiteral("ANT 2")}},
    {QStringLiteral("Afil"), {QStringLiteral("AF2")}},
    {QStringLiteral("NB"), {QStringLiteral("NB2")}},
    {QStringLiteral("NB_level"), {QStringLiteral("Low")}},
    {QStringLiteral("Label12"), {QStringLiteral("    | --050.000  | 0 | +-050.000 | khz")}},
};

QString shownText(const QWidget *control)
{
    if (auto button = qobject_cast<const QAbstractButton *>(control))
        return button->text();
    if (auto label = qobject_cast<const QLabel *>(control))
        return label->text();
    if (auto edit = qobject_cast<const QLineEdit *>(control))
        return edit->text();
    if (auto box = qobject_cast<const QPlainTextEdit *>(control))
        return box->toPlainText();
    if (auto frame = qobject_cast<const QGroupBox *>(control))
        return frame->title();
    return QString();
}

// The space a control leaves for one line of its text, after the style's
// frame, margins and indicator.
QSize textRoom(const QWidget *control)
{
    const QStyle *style = control->style();
    if (auto button = qobject_cast<const QAbstractButton *>(control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const bool radio = qobject_cast<const QRadioButton *>(control);
        return style->subElementRect(radio ? QStyle::SE_RadioButtonContents : QStyle::SE_PushButtonContents,
                                     &option, control).size();
    }
    if (auto label = qobject_cast<const QLabel *>(control))
        return label->contentsRect().marginsRemoved(QMargins(label->margin(), label->margin(),
                                                             label->margin(), label->margin())).size();
    if (auto edit = qobject_cast<const QLineEdit *>(control)) {
        // QLineEdit keeps two pixels of its own on each side, and one more
        // for the caret.
        const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, control);
        return edit->contentsRect().marginsRemoved(edit->textMargins()).size() - QSize(2 * frame + 5, 2 * frame);
    }
    if (auto frame = qobject_cast<const QGroupBox *>(control))
        return QSize(frame->width() - 16, frame->height());
    return control->size();
}

double luminance(const QColor &colour)
{
    auto channel = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) + 0.0722 * channel(colour.blueF());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

bool isTextBox(const QWidget *control)
{
    return qobject_cast<const QLineEdit *>(control) || qobject_cast<const QPlainTextEdit *>(control);
}

// What a caption is painted on: buttons and text boxes fill their own face,
// the rest show the nearest filled widget behind them.
QColor backgroundBehind(const QWidget *control)
{
    if (isTextBox(control))
        return control->palette().color(QPalette::Base);
    if (qobject_cast<const QPushButton *>(control))
        return control->palette().color(QPalette::Button);
    for (const QWidget *w = control; w; w = w->parentWidget()) {
        if (w->autoFillBackground())
            return w->palette().color(w->backgroundRole());
    }
    return control->palette().color(QPalette::Window);
}

QColor captionColour(const QWidget *control)
{
    if (isTextBox(control))
        return control->palette().color(QPalette::Text);
    if (qobject_cast<const QPushButton *>(control))
        return control->palette().color(QPalette::ButtonText);
    return control->palette().color(QPalette::WindowText);
}

// Where a frame's controls may stand: below a group box's title, inside a
// plain frame's border.
QRect roomForChildren(const QWidget *container)
{
    if (auto frame = qobject_cast<const QGroupBox *>(container))
        return frame->rect().adjusted(0, QFontMetrics(frame->font()).height(), 0, 0);
    if (auto frame = qobject_cast<const QFrame *>(container))
        return frame->contentsRect();
    return container->rect();
}

QList<QWidget *> visibleControls(const QWidget *container)
{
    QList<QWidget *> controls;
    for (QWidget *child : container->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (child->isVisible() && !child->objectName().isEmpty())
            controls.append(child);
    }
    return controls;
}

bool isContainer(const QWidget *control)
{
    return qobject_cast<const QGroupBox *>(control) || control->metaObject() == &QFrame::staticMetaObject;
}

// Every fault found among the visible controls of a container and of the
// frames inside it, one line each.
void collectLayoutFaults(const QWidget *container, QStringList &faults)
{
    const QList<QWidget *> controls = visibleControls(container);
    const QRect room = roomForChildren(container);
    for (qsizetype i = 0; i < controls.size(); ++i) {
        const QWidget *control = controls[i];
        const QString name = control->objectName();
        if (!room.contains(control->geometry()))
            faults << name + QStringLiteral(" lies outside the room of ") + container->objectName();
        for (qsizetype j = i + 1; j < controls.size(); ++j) {
            if (control->geometry().intersects(controls[j]->geometry()))
                faults << name + QStringLiteral(" overlaps ") + controls[j]->objectName();
        }

        QStringList texts = RunTimeTexts.value(name);
        texts.prepend(shownText(control));
        texts.removeAll(QString());
        const QFontMetrics metrics(control->font());
        const QSize space = textRoom(control);
        for (const QString &text : std::as_const(texts)) {
            if (metrics.horizontalAdvance(text) > space.width() || metrics.height() > space.height())
                faults << QStringLiteral("%1: \"%2\" needs %3 x %4, has %5 x %6")
                              .arg(name, text)
                              .arg(metrics.horizontalAdvance(text))
                              .arg(metrics.height())
                              .arg(space.width())
                              .arg(space.height());
        }
        if (!texts.isEmpty()) {
            const double ratio = contrast(captionColour(control), backgroundBehind(control));
            if (ratio < 4.5)
                faults << QStringLiteral("%1: caption contrast only %2").arg(name).arg(ratio, 0, 'f', 1);
        }
        if (isContainer(control))
            collectLayoutFaults(control, faults);
    }
}

} // namespace

class TestPanelForm : public QObject
{
    Q_OBJECT

private slots:
    void controls_data();
    void controls();
    void rangesAndSteps_data();
    void rangesAndSteps();
    void menu_data();
    void menu();
    void fixedWindow();
    void layoutIsTidy_data();
    void layoutIsTidy();
    void screenshots();
};

void TestPanelForm::controls_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<bool>("shown");

    auto control = [](const char *name, const char *className, const char *frame, const QString &text,
                      const QString &toolTip = QString(), bool shown = true) {
        QTest::newRow(name) << QString::fromLatin1(className) << QString::fromLatin1(frame) << text << toolTip
                            << shown;
    };
    const char *panel = "centralwidget";
    const QString none;

    control("Label3", "QLabel", panel, QStringLiteral("0    1    3    5    7    9     +20     +40"));
    control("Smeter", "QProgressBar", panel, none);
    control("SM_en", "QPushButton", panel, QStringLiteral("SMeter"), QStringLiteral("SMeter Enable"));
    control("Q9_present_ind", "QLabel", panel, QStringLiteral(" Q9 Present"), none, false);
    control("Server_Conn", "QLabel", panel, QStringLiteral("Q9 Server Linked"), none, false);

    control("Shape1", "QFrame", panel, none);
    control("VFO_A_Label", "QLabel", "Shape1", QStringLiteral("VFO A"));
    control("VFO_B_Label", "QLabel", "Shape1", QStringLiteral("VFO B"));
    control("vfoa_edbox", "QLineEdit", "Shape1", none, QStringLiteral("Enter VFO A Freq here and click RX"));
    control("vfob_edbox", "QLineEdit", "Shape1", none, QStringLiteral("Enter VFO B Freq here and click RX"));
    control("rx_vfoa", "QPushButton", "Shape1", QStringLiteral("RX"));
    control("tx_vfoa", "QPushButton", "Shape1", QStringLiteral("TX"));
    control("rx_vfob", "QPushButton", "Shape1", QStringLiteral("RX"));
    control("tx_vfob", "QPushButton", "Shape1", QStringLiteral("TX"));
    control("a2b", "QPushButton", "Shape1", QStringLiteral("A=>B"));
    control("b2a", "QPushButton", "Shape1", QStringLiteral("B=>A"));

    control("Label13", "QLabel", panel, QStringLiteral("        UTC Time"));
    // The clock shows the time of day from the start.
    control("utc_time", "QLineEdit", panel, ClockText);

    control("AIP_cmd", "QPushButton", panel, QStringLiteral("PRE"), QStringLiteral("PreAmp On/Off"));
    control("att_cmd", "QPushButton", panel, QStringLiteral("ATT"), QStringLiteral("Attenuator On/Off"));
    control("spot", "QPushButton", panel, QStringLiteral("Spot"), QStringLiteral("CW Spot Tone"));
    control("Ant1_2", "QPushButton", panel, QStringLiteral("ANT 1"), QStringLiteral("Selects ANT 1/2"));
    control("Tune", "QPushButton", panel, QStringLiteral("TUNE"), QStringLiteral("TX Tune"));
    control("AGC_on", "QPushButton", panel, QStringLiteral("AGC"), QStringLiteral("AGC On/Off"));
    control("AGC_Frame", "QGroupBox", panel, QStringLiteral("AGC"));
    control("AGC_Fast", "QRadioButton", "AGC_Frame", QStringLiteral("Fast"), QStringLiteral("AGC Fast"));
    control("AGC_Slow", "QRadioButton", "AGC_Frame", QStringLiteral("Slow"), QStringLiteral("AGC Slow"));
    control("NB", "QPushButton", panel, QStringLiteral("NB"), QStringLiteral("NB Selection"));
    control("NB_level", "QPushButton", panel, QStringLiteral("High"), QStringLiteral("NB Threshold"));
    control("xfil", "QPushButton", panel, QStringLiteral("XFIL"), QStringLiteral("Xtal Filter Selection"));
    control("fil_bw", "QLineEdit", panel, QStringLiteral("FL1/2500"));
    control("Afil", "QPushButton", panel, QStringLiteral("AFIL"), QStringLiteral("Audio Filter Selection"));

    control("Frame1", "QGroupBox", panel, QStringLiteral("Freq. Adjust"));
    control("BandUp", "QPushButton", "Frame1", QStringLiteral("Band+"));
    control("BandDn", "QPushButton", "Frame1", QStringLiteral("Band -"));
    control("up10hz", "QPushButton", "Frame1", QStringLiteral("+10 Hz"));
    control("dn10hz", "QPushButton", "Frame1", QStringLiteral("-10 Hz"));
    control("up100hx", "QPushButton", "Frame1", QStringLiteral("+100 Hz"));
    control("dn100hz", "QPushButton", "Frame1", QStringLiteral("-100 Hz"));
    control("up1", "QPushButton", "Frame1", QStringLiteral("+2 kHz"));
    control("dn1", "QPushButton", "Frame1", QStringLiteral("-2 kHz"));
    control("fine_tune", "QScrollBar", "Frame1", none);
    control("Label12", "QLabel", "Frame1", QStringLiteral("    | -000.500  | 0 | +000.500 | khz"),
            QStringLiteral("Move slider with mouse to fine tune VFO"));
    control("clr_slide", "QPushButton", "Frame1", QStringLiteral("CLR"));
    control("Label7", "QLabel", "Frame1", QStringLiteral("  Incr. "));
    control("incr_edbox", "QLineEdit", "Frame1", QStringLiteral("0010"), QStringLiteral("enter VFO Slider Increment"));

    control("Frame3", "QGroupBox", panel, QStringLiteral("RIT/XIT Control"));
    control("rit_box", "QLineEdit", "Frame3", QStringLiteral("+0.00"));
    control("rit_cmd", "QPushButton", "Frame3", QStringLiteral("RIT"));
    control("xit_cmd", "QPushButton", "Frame3", QStringLiteral("XIT"));
    control("rit_clr", "QPushButton", "Frame3", QStringLiteral("Clear"));
    control("rit_ind", "QLabel", "Frame3", none);
    control("xit_ind", "QLabel", "Frame3", none);
    control("ru10", "QPushButton", "Frame3", QStringLiteral("+10 Hz"));
    control("rd10", "QPushButton", "Frame3", QStringLiteral("-10 Hz"));
    control("ru50", "QPushButton", "Frame3", QStringLiteral("+100 Hz"));
    control("rd50", "QPushButton", "Frame3", QStringLiteral("-100 Hz"));
    control("ru1k", "QPushButton", "Frame3", QStringLiteral("+250 Hz"));
    control("rd1k", "QPushButton", "Frame3", QStringLiteral("-250 Hz"));

    control("MD_Frame", "QGroupBox", panel, QStringLiteral("MODE"), QStringLiteral("Sets Q9 Mode"));
    control("lsb_md", "QRadioButton", "MD_Frame", QStringLiteral("LSB"));
    control("usb_md", "QRadioButton", "MD_Frame", QStringLiteral("USB"));
    control("cw_md", "QRadioButton", "MD_Frame", QStringLiteral("CW"));
    control("cwr_md", "QRadioButton", "MD_Frame", QStringLiteral("CW-R"));
    control("data_md", "QRadioButton", "MD_Frame", QStringLiteral("DATA"));
    control("datar_md", "QRadioButton", "MD_Frame", QStringLiteral("DATA-R"));

    control("Label6", "QLabel", panel, QStringLiteral("Keyer Speed="));
    control("SPD", "QLabel", panel, QStringLiteral("20wpm"));
    control("CWSpeedSlider", "QSlider", panel, none, QStringLiteral("Slide to set CW Speed"));
    control("Label8", "QLabel", panel, QStringLiteral("Power ="));
    control("PWR", "QLabel", panel, QStringLiteral("10.5W"));
    control("PowerSlider", "QSlider", panel, none, QStringLiteral("Slide to set power"));
    control("Label5", "QLabel", panel, QStringLiteral("Squelch ="));
    control("SQ", "QLabel", panel, QStringLiteral("0"));
    control("SquelchSlider", "QSlider", panel, none, QStringLiteral("Slide to set Squelch"));

    control("CWsend", "QPlainTextEdit", panel, none, QStringLiteral("Type CW text to send here and press 'Send CW'"));
    control("CW_SendBuff", "QPushButton", panel, QStringLiteral("Send CW"), QStringLiteral("Click to start sending CW text."));
    control("CW_Stop", "QPushButton", panel, QStringLiteral("Stop"), QStringLiteral("Stops CW send."));
    control("CW_ClearBox", "QPushButton", panel, QStringLiteral("Clear"), QStringLiteral("Clears CW text box"));

    control("ConsoleBay", "QFrame", panel, none);
    control("Label4", "QLabel", "ConsoleBay", QStringLiteral("Test TX String"), none, false);
    control("Debug_send", "QPlainTextEdit", "ConsoleBay", none, none, false);
    control("send_cmd", "QPushButton", "ConsoleBay", QStringLiteral("SEND"), none, false);
    control("Label10", "QLabel", "ConsoleBay", QStringLiteral("Debug RX Window"), none, false);
    control("Text1", "QPlainTextEdit", "ConsoleBay", none, none, false);
}

// Every control of the panel by its designer name: kind, the frame it stands
// in, caption and tooltip as the operator sees them after start-up.
void TestPanelForm::controls()
{
    QFETCH(QString, className);
    QFETCH(QString, frame);
    QFETCH(QString, text);
    QFETCH(QString, toolTip);
    QFETCH(bool, shown);

    PanelFixture fixture;
    fixture.start();
    const QWidget *control = fixture.control<QWidget>(QTest::currentDataTag());
    QVERIFY(control);
    QCOMPARE(QString::fromLatin1(control->metaObject()->className()), className);
    QCOMPARE(control->parentWidget()->objectName(), frame);
    if (text == ClockText)
        QVERIFY(QTime::fromString(shownText(control), QStringLiteral("HH:mm:ss")).isValid());
    else
        QCOMPARE(shownText(control), text);
    QCOMPARE(control->toolTip(), toolTip);
    QCOMPARE(!control->isHidden(), shown);
}

void TestPanelForm::rangesAndSteps_data()
{
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("singleStep");
    QTest::addColumn<int>("pageStep");
    QTest::addColumn<int>("tickInterval");
    QTest::addColumn<int>("value");

    QTest::newRow("PowerSlider") << 1 << 150 << 1 << 10 << 10 << 1;
    QTest::newRow("CWSpeedSlider") << 9 << 50 << 1 << 5 << 4 << 9;
    QTest::newRow("SquelchSlider") << 0 << 10 << 1 << 2 << 1 << 0;
    QTest::newRow("fine_tune") << -50 << 50 << 1 << 5 << 0 << 0;
    QTest::newRow("Smeter") << 0 << 30 << 0 << 0 << 0 << 0;
}

void TestPanelForm::rangesAndSteps()
{
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, singleStep);
    QFETCH(int, pageStep);
    QFETCH(int, tickInterval);
    QFETCH(int, value);

    PanelFixture fixture;
    fixture.start();
    if (auto gauge = fixture.control<QProgressBar>(QTest::currentDataTag())) {
        QCOMPARE(gauge->minimum(), minimum);
        QCOMPARE(gauge->maximum(), maximum);
        QCOMPARE(gauge->value(), value);
        return;
    }
    const auto slider = fixture.control<QAbstractSlider>(QTest::currentDataTag());
    QVERIFY(slider);
    QCOMPARE(slider->orientation(), Qt::Horizontal);
    QCOMPARE(slider->minimum(), minimum);
    QCOMPARE(slider->maximum(), maximum);
    QCOMPARE(slider->singleStep(), singleStep);
    QCOMPARE(slider->pageStep(), pageStep);
    QCOMPARE(slider->value(), value);
    if (auto ticked = qobject_cast<const QSlider *>(slider)) {
        QCOMPARE(ticked->tickInterval(), tickInterval);
        QVERIFY(ticked->tickPosition() != QSlider::NoTicks);
    }
}

void TestPanelForm::menu_data()
{
    QTest::addColumn<QString>("container");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("checkable");
    QTest::addColumn<QKeySequence>("shortcut");

    auto item = [](const char *name, const char *container, int position, const QString &text, bool checkable,
                   const QKeySequence &shortcut = QKeySequence()) {
        QTest::newRow(name) << QString::fromLatin1(container) << position << text << checkable << shortcut;
    };
    item("Link", "menubar", 0, QStringLiteral("&Connect"), false);
    item("CommPort", "Link", 0, QStringLiteral("Comm Port"), false);
    for (int port = 1; port <= 9; ++port) {
        const QByteArray name = "Setcomm" + QByteArray::number(port);
        item(name.constData(), "CommPort", port - 1, QStringLiteral("Comm%1").arg(port), true,
             QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_F1 + port - 1)));
    }
    item("Setcomm10", "CommPort", 9, QStringLiteral("Comm10"), true, QKeySequence(Qt::CTRL | Qt::Key_F10));
    item("Set_Host_Addr", "Link", 1, QStringLiteral("TCP/IP Q9 Server"), false);
    item("set_options", "menubar", 1, QStringLiteral("&Options"), false);
    item("set_UTC", "set_options", 0, QStringLiteral("UTC Offset"), false);
    item("Auto_comm_con", "set_options", 1, QStringLiteral("Auto RS-232 Connect"), true);
    item("debug_on", "set_options", 2, QStringLiteral("Debug"), true);
    item("exit_cmd", "menubar", 2, QStringLiteral("E&xit"), false);
}

// The menu as the form builds it: each item in its place, the port items
// and the two options checkable, the ports on their shortcut keys.
void TestPanelForm::menu()
{
    QFETCH(QString, container);
    QFETCH(int, position);
    QFETCH(QString, text);
    QFETCH(bool, checkable);
    QFETCH(QKeySequence, shortcut);

    PanelFixture fixture;
    Rmt_Q9 &panel = fixture.start();
    QAction *action = fixture.control<QAction>(QTest::currentDataTag());
    if (auto menu = fixture.control<QMenu>(QTest::currentDataTag()))
        action = menu->menuAction();
    QVERIFY(action);
    const QWidget *holder = container == u"menubar" ? static_cast<QWidget *>(panel.menuBar())
                                                    : fixture.control<QMenu>(qPrintable(container));
    QVERIFY(holder);
    QCOMPARE(holder->actions().indexOf(action), position);
    QCOMPARE(action->text(), text);
    QCOMPARE(action->isCheckable(), checkable);
    QCOMPARE(action->shortcut(), shortcut);
    QVERIFY(action->isEnabled());
    QVERIFY(action->isVisible());
}

// One fixed-size window, its client area below the menu bar exactly as
// large as the panel was drawn for.
void TestPanelForm::fixedWindow()
{
    PanelFixture fixture;
    Rmt_Q9 &panel = fixture.start();
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));

    QCOMPARE(panel.windowTitle(), QStringLiteral("Q9 Remote v1.0 beta"));
    QCOMPARE(panel.centralWidget()->size(), QSize(796, 416));
    QCOMPARE(panel.centralWidget()->y(), panel.menuBar()->geometry().bottom() + 1);
    QCOMPARE(panel.size(), QSize(796, 416 + panel.menuBar()->height()));
    QCOMPARE(panel.minimumSize(), panel.size());
    QCOMPARE(panel.maximumSize(), panel.size());

    panel.resize(1000, 700);
    QCoreApplication::processEvents();
    QCOMPARE(panel.centralWidget()->size(), QSize(796, 416));
}

void TestPanelForm::layoutIsTidy_data()
{
    QTest::addColumn<bool>("consoleShown");
    QTest::addColumn<QString>("panelFamily");

    QTest::newRow("start-up") << false << QString();
    QTest::newRow("console and link indicators shown") << true << QString();
    // A machine without the panel's font falls back to a wider one.
    QTest::newRow("start-up, fallback font") << false << QStringLiteral("DejaVu Sans");
    QTest::newRow("console shown, fallback font") << true << QStringLiteral("DejaVu Sans");
}

// Nothing overlaps, nothing sticks out of its frame, every caption and every
// text the program writes fits its control and stands out from its back.
void TestPanelForm::layoutIsTidy()
{
    QFETCH(bool, consoleShown);
    QFETCH(QString, panelFamily);

    PanelFixture fixture;
    Rmt_Q9 &panel = fixture.start();
    if (!panelFamily.isEmpty()) {
        QFont font = panel.centralWidget()->font();
        font.setFamilies({panelFamily});
        panel.centralWidget()->setFont(font);
    }
    if (consoleShown) {
        fixture.control<QAction>("debug_on")->trigger();
        fixture.control<QLabel>("Q9_present_ind")->show();
        fixture.control<QLabel>("Server_Conn")->show();
    }
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QCOMPARE(fixture.control<QWidget>("Text1")->isVisible(), consoleShown);

    QStringList faults;
    collectLayoutFaults(panel.centralWidget(), faults);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
}

// Pictures of the panel for a person to look at: at start-up, with the debug
// console on, and in use. The colours the panel relies on must come out.
void TestPanelForm::screenshots()
{
    PanelFixture fixture;
    Rmt_Q9 &panel = fixture.start();
    panel.setLocalTimeSource([] { return QTime(21, 2, 30); });
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));

    const QDir dir(QStringLiteral(Q9_SCREENSHOT_DIR));
    QVERIFY(dir.mkpath(QStringLiteral(".")));
    auto colourAt = [&panel](const char *name, QPoint offset) {
        const QWidget *control = panel.findChild<QWidget *>(QString::fromLatin1(name));
        return panel.grab().toImage().pixelColor(control->mapTo(&panel, offset));
    };

    const QImage startUp = panel.grab().toImage();
    QCOMPARE(startUp.size(), panel.size() * panel.devicePixelRatio());
    QVERIFY(startUp.save(dir.filePath(QStringLiteral("panel.png"))));
    QCOMPARE(colourAt("Frame3", QPoint(200, 6)), QColor(0, 0, 255));
    QCOMPARE(colourAt("centralwidget", QPoint(2, 2)), QColor(128, 128, 128));
    QCOMPARE(colourAt("vfoa_edbox", QPoint(10, 10)), QColor(0, 0, 0));

    fixture.control<QAction>("debug_on")->trigger();
    QVERIFY(panel.grab().toImage().save(dir.filePath(QStringLiteral("panel_debug.png"))));
    QCOMPARE(colourAt("Text1", QPoint(10, 10)), QColor(0, 128, 0));
    QCOMPARE(colourAt("CWsend", QPoint(10, 10)), QColor(224, 224, 224));

    // In use: the radio has reported its state, and an operator has typed.
    for (const char *reply : {"Q91;", "FB00007040500;", "FT0;", "FW250011;", "GT002;", "NB11;", "KS020;", "PC0501;",
                              "SQ050;", "SM0009;", "AN2;", "RA01;", "IF00014060000     +012010 0002000001 ;"})
        panel.HandleReply(QString::fromLatin1(reply));
    fixture.control<QLabel>("Server_Conn")->show();
    fixture.control<QPlainTextEdit>("CWsend")->setPlainText(QStringLiteral("CQ CQ DE Q9XYZ K"));
    fixture.control<QPlainTextEdit>("Debug_send")->setPlainText(QStringLiteral("FA;"));
    QVERIFY(panel.grab().toImage().save(dir.filePath(QStringLiteral("panel_in_use.png"))));
    const QColor meter = colourAt("Smeter", QPoint(20, 12));
    QVERIFY2(meter.red() > 200 && meter.green() > 200 && meter.blue() < 100, qPrintable(meter.name()));
}

QTEST_MAIN(TestPanelForm)
#include "tst_panel_form.moc"
