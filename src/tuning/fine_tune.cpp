#include "app/rmt_q9.h"
#include "tuning/fine_tune_scale.h"
#include "ui_rmt_q9.h"

void Rmt_Q9::wireFineTune()
{
}

void Rmt_Q9::setFineTuneScale()
{
    ui->Label12->setText(fineTuneScaleText(g.FineTuneStepHz));
}
