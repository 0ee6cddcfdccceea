#include "app/numbers.h"
#include "app/rmt_q9.h"
#include "ui_rmt_q9.h"

namespace {

QString levelCommand(const QString &code, int level)
{
    return code + formatZeroPadded(level, 3, 0) + u';';
}

} // namespace

// Every change of value the operator makes (drag, click beside the thumb,
// arrow and page keys, wheel) sends at once. The reply interpreter blocks
// the sliders' signals while it moves them, so the radio's own reports send
// nothing back.
void Rmt_Q9::wireLevelSliders()
{
    connect(ui->PowerSlider, &QSlider::valueChanged, this, &Rmt_Q9::PowerSlider_Scroll);
    connect(ui->CWSpeedSlider, &QSlider::valueChanged, this, &Rmt_Q9::CWSpeedSlider_Scroll);
    connect(ui->SquelchSlider, &QSlider::valueChanged, this, &Rmt_Q9::SquelchSlider_Scroll);
}

void Rmt_Q9::PowerSlider_Scroll()
{
    SendCommand(levelCommand(QStringLiteral("PC"), ui->PowerSlider->value()));
}

void Rmt_Q9::CWSpeedSlider_Scroll()
{
    SendCommand(levelCommand(QStringLiteral("KS"), ui->CWSpeedSlider->value()));
}

// The radio's squelch runs 0 to 250 in steps of 25.
void Rmt_Q9::SquelchSlider_Scroll()
{
    SendCommand(levelCommand(QStringLiteral("SQ"), 25 * ui->SquelchSlider->value()));
}
