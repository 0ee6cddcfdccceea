#include "cat/rit_display.h"
#include "app/numbers.h"
#include "app/panel_colours.h"
#include "app/rmt_q9.h"
#include "ui_rmt_q9.h"

QString ritOffsetText(double offset)
{
    const QString kHz = formatZeroPadded(offset / 100, 1, 2);
    if (kHz.startsWith(u'-'))
        return kHz;
    return (roundHalfAway(offset / 100, 2) == 0 ? u' ' : u'+') + kHz;
}

void Rmt_Q9::ShowRitOffset(double offset)
{
    ui->rit_box->setText(ritOffsetText(offset));
}

// The offset stays shown either way; dimmed when neither RIT nor XIT is on.
void Rmt_Q9::ShowRitXitState()
{
    const bool ritOn = g.RitOn == 1;
    const bool xitOn = g.XitOn == 1;
    setTextColour(ui->rit_box, ritOn || xitOn ? PanelColour::OffsetActive : PanelColour::OffsetIdle);
    setBackColour(ui->rit_ind, ritOn ? PanelColour::On : PanelColour::IndicatorOff);
    setBackColour(ui->xit_ind, xitOn ? PanelColour::On : PanelColour::IndicatorOff);
}
