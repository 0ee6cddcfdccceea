#include "app/dialogs.h"
#include "app/numbers.h"
#include "app/panel_colours.h"
#include "app/rmt_q9.h"
#include "app/utc_clock.h"
#include "ui_rmt_q9.h"

void Rmt_Q9::wirePeriodicTasks()
{
    connect(&Timer1, &QTimer::timeout, this, &Rmt_Q9::Timer1_Timer);
    connect(&Timer2, &QTimer::timeout, this, &Rmt_Q9::Timer2_Timer);
    connect(ui->SM_en, &QPushButton::clicked, this, &Rmt_Q9::SM_en_Click);
    connect(ui->set_UTC, &QAction::triggered, this, &Rmt_Q9::set_UTC_Click);
}

// A poll whose own send fails stops itself after the one failure box: a
// link that has gone would otherwise open the next box as soon as the
// operator closes the last.
void Rmt_Q9::Timer1_Timer()
{
    if (!SendCommand(QStringLiteral("SM;")))
        stopSmeterPoll();
}

void Rmt_Q9::SM_en_Click()
{
    if (Timer1.isActive()) {
        stopSmeterPoll();
        return;
    }
    if (!g.RadioPresent)
        return;
    Timer1.setInterval(g.LinkIsSerial ? 100 : 250);
    Timer1.start();
    setBackColour(ui->SM_en, PanelColour::On);
}

void Rmt_Q9::stopSmeterPoll()
{
    Timer1.stop();
    setBackColour(ui->SM_en, PanelColour::buttonFace());
}

void Rmt_Q9::Timer2_Timer()
{
    ui->utc_time->setText(utcClockText(m_localTime(), g.UtcOffset));
}

void Rmt_Q9::set_UTC_Click()
{
    g.UtcOffset = m_dialogs.input(this, QStringLiteral("Enter UTC +/- Offset value."),
                                  QStringLiteral("Set UTC Clock Offset"), g.UtcOffset);
}
