#include "app/rmt_q9.h"
#include "ui_rmt_q9.h"

void Rmt_Q9::wireStepTuning()
{
}
