#include "app/rmt_q9.h"
#include "ui_rmt_q9.h"

void Rmt_Q9::wireStepTuning()
{
    // The radio does the stepping; two commands make the larger steps.
    const std::pair<QPushButton *, QString> stepButtons[] = {
        {ui->up1, QStringLiteral("UP4;UP4;")},     {ui->dn1, QStringLiteral("DN4;DN4;")},
        {ui->up100hx, QStringLiteral("UP3;UP3;")}, {ui->dn100hz, QStringLiteral("DN3;DN3;")},
        {ui->up10hz, QStringLiteral("UP1;")},      {ui->dn10hz, QStringLiteral("DN1;")},
    };
    for (const auto &[button, command] : stepButtons)
        connect(button, &QPushButton::clicked, this, [this, step = command] { stepTune(step); });
}

// Steps the receive VFO, asks for its new frequency, whose reply rewrites
// its box, and re-centres the fine-tune slider.
void Rmt_Q9::stepTune(const QString &stepCommand)
{
    SendCommand(stepCommand);
    SendCommand(g.RxVfo == 0 ? QStringLiteral("FA;") : QStringLiteral("FB;"));
    clr_slide_Click();
}
