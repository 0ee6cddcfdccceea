#include "app/rmt_q9.h"
#include "ui_rmt_q9.h"

void Rmt_Q9::wireVfoEntry()
{
}

bool Rmt_Q9::eventFilter(QObject *watched, QEvent *event)
{
    return QMainWindow::eventFilter(watched, event);
}
