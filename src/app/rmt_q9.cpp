#include "rmt_q9.h"

#include "app/dialogs.h"
#include "app/numbers.h"
#include "app/panel_colours.h"
#include "ui_rmt_q9.h"

#include <QApplication>
#include <QCloseEvent>
#include <QStyle>
#include <QStyleFactory>

namespace {

// Buttons show their state through their back colour; the Fusion style is
// one that paints a button's face from its palette on every platform.
void useColourableButtonStyle()
{
    if (QApplication::style()->name().compare(u"fusion", Qt::CaseInsensitive) != 0)
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
}

} // namespace

Rmt_Q9::Rmt_Q9(Dialogs &dialogs, QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::Rmt_Q9>())
    , m_dialogs(dialogs)
    , m_localTime(&QTime::currentTime)
{
    useColourableButtonStyle();
    ui->setupUi(this);
    applyPanelLook();

    // The timers are the window's children, as on the form, so tools and
    // tests find them by name.
    for (QTimer *timer : {&Timer1, &Timer2})
        timer->setParent(this);
    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer2.setObjectName(QStringLiteral("Timer2"));
    Timer1.setInterval(125);
    Timer2.setInterval(1000);

    wireLinks();
    wireSerialConnection();
    wireServerConnection();
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

    Timer2.start();
    Form_Load();
}

Rmt_Q9::~Rmt_Q9() = default;

void Rmt_Q9::setLocalTimeSource(std::function<QTime()> source)
{
    m_localTime = std::move(source);
}

// The look that the form cannot carry: colours that must follow the
// platform's button face, and a fixed size.
void Rmt_Q9::applyPanelLook()
{
    setFixedSize(size());
    setBackColour(ui->centralwidget, PanelColour::PanelGrey);
    for (QWidget *indicator : {ui->rit_ind, ui->xit_ind})
        setBackColour(indicator, PanelColour::IndicatorOff);
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
    AutoConnectStep();
}

void Rmt_Q9::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}
