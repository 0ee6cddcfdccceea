#include "app/panel_colours.h"
#include "app/rmt_q9.h"
#include "link/event_wait.h"
#include "ui_rmt_q9.h"

#include <QElapsedTimer>

namespace {
// TUNE follows the radio into transmit and out again by its status record.
constexpr double StartPollSeconds = 0.15;
constexpr double TransmitPollSeconds = 0.25;
constexpr qint64 StartLimitMs = 5000;
} // namespace

void Rmt_Q9::wireSwitchButtons()
{
    // Send and forget: the radio's reports bring the panel up to date. The
    // mode and AGC options send on the operator's click only, not when a
    // reply selects them.
    sendOnClick({
        {ui->lsb_md, QStringLiteral("MD1;FW;")},
        {ui->usb_md, QStringLiteral("MD2;FW;")},
        {ui->cw_md, QStringLiteral("MD3;FW;")},
        {ui->cwr_md, QStringLiteral("MD7;FW;")},
        {ui->data_md, QStringLiteral("MD6;FW;")},
        {ui->datar_md, QStringLiteral("MD9;FW;")},
        {ui->xfil, QStringLiteral("FW0100;FW;")},
        {ui->Afil, QStringLiteral("SW29;FW;")},
        {ui->AGC_on, QStringLiteral("SW36;GT;")},
        {ui->AGC_Fast, QStringLiteral("GT002;")},
        {ui->AGC_Slow, QStringLiteral("GT004;")},
        {ui->NB, QStringLiteral("NB1;")},
        {ui->NB_level, QStringLiteral("SW22;")},
        {ui->Ant1_2, QStringLiteral("SW04;")},
    });
    connect(ui->att_cmd, &QPushButton::clicked, this, &Rmt_Q9::att_cmd_Click);
    connect(ui->AIP_cmd, &QPushButton::clicked, this, &Rmt_Q9::AIP_cmd_Click);
    connect(ui->spot, &QPushButton::clicked, this, &Rmt_Q9::spot_Click);
    connect(ui->Tune, &QPushButton::clicked, this, &Rmt_Q9::Tune_Click);
    connect(ui->BandUp, &QPushButton::clicked, this, &Rmt_Q9::BandUp_Click);
    connect(ui->BandDn, &QPushButton::clicked, this, &Rmt_Q9::BandDn_Click);
}

void Rmt_Q9::sendOnClick(std::initializer_list<std::pair<QAbstractButton *, QString>> buttons)
{
    for (const auto &[button, command] : buttons)
        connect(button, &QAbstractButton::clicked, this, [this, text = command] { SendCommand(text); });
}

void Rmt_Q9::att_cmd_Click()
{
    flipSwitch(g.AttenuatorOn, ui->att_cmd, QStringLiteral("RA01;"), QStringLiteral("RA00;"));
}

void Rmt_Q9::AIP_cmd_Click()
{
    flipSwitch(g.PreampOn, ui->AIP_cmd, QStringLiteral("PA1;"), QStringLiteral("PA0;"));
}

// A switch the panel keeps a state for, which the radio's reports also set:
// on turns it off, anything else, a state never reported included, turns
// it on.
void Rmt_Q9::flipSwitch(bool &on, QWidget *button, const QString &onCommand, const QString &offCommand)
{
    const bool turnOn = !on;
    SendCommand(turnOn ? onCommand : offCommand);
    on = turnOn;
    setOnColour(button, turnOn);
}

// The radio does not report the spot tone: the colour alone records it.
void Rmt_Q9::spot_Click()
{
    SendCommand(QStringLiteral("SW27;"));
    setOnColour(ui->spot, backColour(ui->spot) == PanelColour::buttonFace());
}

// Starts a tune and follows the radio through it by polling the status
// record, whose decoding sets Transmitting and greys the button at the end.
// The waits keep the panel live. A link that is not open, or goes away
// meanwhile, ends the following: no record can ever report the end, and
// the failure has been told once, by the send that found it or by the loss.
void Rmt_Q9::Tune_Click()
{
    SendCommand(QStringLiteral("SW20;"));
    QElapsedTimer sinceStart;
    sinceStart.start();
    const auto following = [this] { return !m_stopping && activeLink().control.isOpen(); };
    const auto pause
        = [&following](double seconds) { waitUntil([&following] { return !following(); }, seconds); };
    while (!g.Transmitting && following()) {
        SendCommand(QStringLiteral("IF;"));
        pause(StartPollSeconds);
        if (sinceStart.elapsed() > StartLimitMs)
            break;
    }
    while (g.Transmitting && following()) {
        setOnColour(ui->Tune, true);
        SendCommand(QStringLiteral("IF;"));
        pause(TransmitPollSeconds);
    }
}

void Rmt_Q9::BandUp_Click()
{
    SendCommand(QStringLiteral("SW01;"));
    clr_slide_Click();
}

void Rmt_Q9::BandDn_Click()
{
    SendCommand(QStringLiteral("SW03;"));
    clr_slide_Click();
}
