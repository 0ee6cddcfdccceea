#include "app/numbers.h"
#include "app/rmt_q9.h"
#include "tuning/fine_tune_scale.h"
#include "tuning/frequency_command.h"
#include "ui_rmt_q9.h"

#include <QWheelEvent>

void Rmt_Q9::wireFineTune()
{
    // A drag reports each new position through sliderMoved and its end
    // through sliderReleased; the value changes it makes on the way are
    // those same positions again. Every other change of value (arrow, track
    // click, the program re-centring) is one change notification.
    connect(ui->fine_tune, &QScrollBar::sliderMoved, this, &Rmt_Q9::fine_tune_Scroll);
    connect(ui->fine_tune, &QScrollBar::sliderReleased, this, &Rmt_Q9::fine_tune_Change);
    connect(ui->fine_tune, &QScrollBar::valueChanged, this, [this] {
        if (!ui->fine_tune->isSliderDown())
            fine_tune_Change();
    });
    // The wheel tunes through the window's event filter (rmt_q9.cpp).
    ui->fine_tune->installEventFilter(this);
    connect(ui->incr_edbox, &QLineEdit::textChanged, this, &Rmt_Q9::incr_edbox_Change);
    connect(ui->clr_slide, &QPushButton::clicked, this, &Rmt_Q9::clr_slide_Click);
}

// Tunes the receive VFO by the slider's movement since the frequency was last
// sent. The box is the only record of the frequency, so the next event starts
// from the box's 10 Hz rounding while the radio gets the exact hertz.
void Rmt_Q9::fine_tune_Scroll()
{
    SendCommand(QStringLiteral("AI0;"));
    // The slider's position, not its value: during a drag sliderMoved comes
    // before the value follows the thumb.
    const int position = ui->fine_tune->sliderPosition();
    const bool vfoA = g.RxVfo == 0;
    QLineEdit *box = vfoA ? ui->vfoa_edbox : ui->vfob_edbox;
    const double kHz
        = leadingNumber(box->text()) + g.FineTuneStepHz * 0.001 * (position - g.FineTunePosition);
    box->setText(frequencyDisplayText(kHz));
    SendCommand(setFrequencyCommand(vfoA ? QStringLiteral("FA") : QStringLiteral("FB"), kHz));
    g.FineTunePosition = static_cast<qint16>(position);
    SendCommand(QStringLiteral("AI2;"));
    if (g.DebugOn)
        replaceDebugText(formatOptionalDigits(kHz, 2));
}

void Rmt_Q9::fine_tune_Change()
{
    fine_tune_Scroll();
}

// The wheel over the bar or over a VFO box: each notch up is one position
// up, each notch down one down, and each position tunes as an arrow click
// does, where a scroll bar of its own would jump three positions a notch.
// Fine-grained wheels and touchpads add up to whole notches.
void Rmt_Q9::fine_tune_Wheel(const QWheelEvent *event)
{
    m_wheelTravel += event->angleDelta().y();
    for (; m_wheelTravel >= QWheelEvent::DefaultDeltasPerStep;
         m_wheelTravel -= QWheelEvent::DefaultDeltasPerStep)
        ui->fine_tune->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    for (; m_wheelTravel <= -QWheelEvent::DefaultDeltasPerStep;
         m_wheelTravel += QWheelEvent::DefaultDeltasPerStep)
        ui->fine_tune->triggerAction(QAbstractSlider::SliderSingleStepSub);
}

void Rmt_Q9::incr_edbox_Change()
{
    g.FineTuneStepHz = leadingNumber(ui->incr_edbox->text());
    setFineTuneScale();
    g.FineTunePosition = 0;
    ui->fine_tune->setValue(0);
}

// Re-centring never retunes: with the reference at 0 first, an off-centre
// slider's change notification re-sends the frequency unchanged.
void Rmt_Q9::clr_slide_Click()
{
    g.FineTunePosition = 0;
    ui->fine_tune->setValue(0);
}

void Rmt_Q9::setFineTuneScale()
{
    ui->Label12->setText(fineTuneScaleText(g.FineTuneStepHz));
}
