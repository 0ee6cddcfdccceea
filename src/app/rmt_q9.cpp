#include "rmt_q9.h"

#include "app/dialogs.h"
#include "app/numbers.h"
#include "app/panel_colours.h"
#include "app/panel_style.h"
#include "ui_rmt_q9.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QScrollBar>
#include <QWheelEvent>

namespace {

// Text boxes paint their field from QPalette::Base, where buttons and labels
// use their back colour.
void setFieldColours(QWidget *box, const QColor &back, const QColor &text)
{
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, back);
    box->setPalette(palette);
    setTextColour(box, text);
}

// Captions of labels and frame titles.
void setCaptionColour(QWidget *control, const QColor &colour)
{
    QPalette palette = control->palette();
    palette.setColor(QPalette::WindowText, colour);
    control->setPalette(palette);
}

// The operator moving between the panel's controls, as opposed to the window
// losing or regaining activation (another program, a message box, closing)
// or a context menu opening over a box: only the first enters or leaves a
// box. A box must not send a half-typed frequency because a box popped up.
bool movesWithinPanel(Qt::FocusReason reason)
{
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason
        && reason != Qt::MenuBarFocusReason;
}

// Buttons show their state through their back colour; the panel's style,
// over Fusion, paints a button's face from its palette on every platform.
void usePanelStyle()
{
    if (!qobject_cast<PanelStyle *>(QApplication::style()))
        QApplication::setStyle(new PanelStyle);
}

} // namespace

Rmt_Q9::Rmt_Q9(Dialogs &dialogs, QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::Rmt_Q9>())
    , m_dialogs(dialogs)
    , m_localTime(&QTime::currentTime)
{
    usePanelStyle();
    ui->setupUi(this);
    applyPanelLook();

    // The timers and the links are the window's children, as on the form, so
    // tools and tests find them by name.
    for (QObject *control : std::initializer_list<QObject *>{&Timer1, &Timer2, &Comm1, &tcpClient})
        control->setParent(this);
    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer2.setObjectName(QStringLiteral("Timer2"));
    Comm1.setObjectName(QStringLiteral("Comm1"));
    tcpClient.setObjectName(QStringLiteral("tcpClient"));
    Timer1.setInterval(125);
    Timer2.setInterval(1000);

    wireLinks();
    wireSerialConnection();
    wireServerConnection();
    wireSecureLink();
    wireLocalCatPort();
    wireShutDown();
    wirePeriodicTasks();
    wireDebugConsole();
    wireSwitchButtons();
    wireLevelSliders();
    wireCwSender();
    wireFineTune();
    wireVfoEntry();
    wireStepTuning();
    wireRitControls();
    wireAudio();
    wireTransmit();

    Timer2.start();
    Form_Load();
}

Rmt_Q9::~Rmt_Q9() = default;

void Rmt_Q9::setLocalTimeSource(std::function<QTime()> source)
{
    m_localTime = std::move(source);
}

// The look that the form cannot carry: colours, some of which the program
// changes at run time through the same palette roles, and a fixed size. The
// form fixes the client area; the window adds the menu bar to it.
void Rmt_Q9::applyPanelLook()
{
    setFixedSize(sizeHint());
    setBackColour(ui->centralwidget, PanelColour::PanelGrey);

    // The controls whose colour shows a state, marked before they are first
    // coloured so that the lamps start with their state told too.
    const QList<QWidget *> stateShownByColour{
        ui->rx_vfoa, ui->tx_vfoa, ui->rx_vfob,        ui->tx_vfob,     ui->att_cmd, ui->AIP_cmd,
        ui->AGC_on,  ui->NB,      ui->Afil,           ui->spot,        ui->SM_en,   ui->Tune,
        ui->rit_ind, ui->xit_ind, ui->Q9_present_ind, ui->Server_Conn, ui->Smeter,
    };
    for (QWidget *control : stateShownByColour)
        showStateByColour(control);

    // Read-outs as on the radio: bright digits on black.
    for (QWidget *readout : {static_cast<QWidget *>(ui->vfoa_edbox), static_cast<QWidget *>(ui->vfob_edbox),
                             static_cast<QWidget *>(ui->utc_time), static_cast<QWidget *>(ui->fil_bw)})
        setFieldColours(readout, PanelColour::ReadoutBack, PanelColour::ReadoutDigits);
    for (QLabel *readout : {ui->SPD, ui->PWR, ui->SQ}) {
        setBackColour(readout, PanelColour::ReadoutBack);
        setCaptionColour(readout, PanelColour::ReadoutDigits);
        showReading(readout, readout->text());
    }
    setBackColour(ui->Shape1, PanelColour::DisplayBezel);
    setCaptionColour(ui->Shape1, PanelColour::CaptionOnDark);

    QPalette meter = ui->Smeter->palette();
    meter.setColor(QPalette::Base, PanelColour::ReadoutBack);
    ui->Smeter->setPalette(meter);
    setGaugeColour(ui->Smeter, PanelColour::MeterReceive);
    for (QWidget *lamp : {ui->Q9_present_ind, ui->Server_Conn})
        setBackColour(lamp, PanelColour::On);

    // Sections are darker than the panel, with white legends.
    for (QWidget *section : {ui->Frame1, ui->MD_Frame, ui->AGC_Frame}) {
        setBackColour(section, PanelColour::SectionGrey);
        setCaptionColour(section, PanelColour::CaptionOnDark);
    }
    setBackColour(ui->ConsoleBay, PanelColour::TrimGrey);
    setCaptionColour(ui->ConsoleBay, PanelColour::CaptionOnDark);
    // Fusion draws a scroll bar's arrows in the caption colour, which is
    // white in the sections and the console.
    for (QWidget *bar :
         {static_cast<QWidget *>(ui->fine_tune), static_cast<QWidget *>(ui->Debug_send->verticalScrollBar()),
          static_cast<QWidget *>(ui->Text1->verticalScrollBar())})
        setCaptionColour(bar, Qt::black);

    // The RIT/XIT frame is as blue as an indicator that is off.
    setBackColour(ui->Frame3, PanelColour::IndicatorOff);
    setCaptionColour(ui->Frame3, PanelColour::CaptionOnDark);
    for (QWidget *indicator : {ui->rit_ind, ui->xit_ind})
        setBackColour(indicator, PanelColour::IndicatorOff);
    setFieldColours(ui->rit_box, PanelColour::IndicatorOff, PanelColour::OffsetActive);

    setFieldColours(ui->CWsend, PanelColour::CwBoxGrey, Qt::black);
    setFieldColours(ui->Debug_send, PanelColour::ConsoleGreen, Qt::white);
    setFieldColours(ui->Text1, PanelColour::ConsoleGreen, Qt::white);
}

// The window's own start-up steps, then the settings step and the
// auto-connect step, before the window is first shown.
void Rmt_Q9::Form_Load()
{
    g.DebugOn = false;
    showDebugConsole(false);

    g.AttenuatorOn = false;
    g.Transmitting = false;

    g.FineTuneStepHz = 10;
    ui->incr_edbox->setText(formatZeroPadded(g.FineTuneStepHz, 4, 0));
    setFineTuneScale();

    g.FineTunePosition = 0;
    ui->fine_tune->setValue(0);

    Timer1.stop();

    g.ServerConnected = false;
    g.RadioPresent = false;
    ui->Q9_present_ind->hide();
    ui->Server_Conn->hide();

    ui->Debug_send->moveCursor(QTextCursor::End);
    ui->Text1->moveCursor(QTextCursor::End);

    g.LinkIsTcp = false;
    g.LinkIsSerial = false;

    LoadSettings();
    applySettingsToMenu();
    // The clock shows the time from the first moment, not the form's text
    // until its first tick.
    Timer2_Timer();
    autoConnectStep();
}

void Rmt_Q9::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

// The events of controls that Qt tells as events rather than signals: the
// VFO boxes' focus (they have no key handling: a typed frequency goes out
// when the operator leaves the box), and the wheel over either box or the
// fine-tune bar, which moves the bar and so tunes the receive VFO.
bool Rmt_Q9::eventFilter(QObject *watched, QEvent *event)
{
    const bool vfoBox = watched == ui->vfoa_edbox || watched == ui->vfob_edbox;
    if (event->type() == QEvent::Wheel && (vfoBox || watched == ui->fine_tune)) {
        fine_tune_Wheel(static_cast<QWheelEvent *>(event));
        return true;
    }
    const bool focusChange = event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut;
    if (focusChange && vfoBox && movesWithinPanel(static_cast<QFocusEvent *>(event)->reason())) {
        if (event->type() == QEvent::FocusIn)
            vfo_edbox_GotFocus(watched);
        else if (watched == ui->vfoa_edbox)
            vfoa_edbox_LostFocus();
        else
            vfob_edbox_LostFocus();
    }
    return QMainWindow::eventFilter(watched, event);
}
