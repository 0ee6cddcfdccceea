#include "app/dialogs.h"
#include "app/rmt_q9.h"
#include "app/stop_signals.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QtDialogs dialogs;
    StopSignals stopSignals(dialogs);
    Rmt_Q9 window(dialogs);
    stopSignals.watch(window);
    if (stopSignals.caught())
        return 0;
    window.show();
    return app.exec();
}
