#include "app/rmt_q9.h"
#include "ui_rmt_q9.h"

void Rmt_Q9::HandleReply(const QString &reply)
{
    Q_UNUSED(reply);
    g.AwaitingReply = false;
}
