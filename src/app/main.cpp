#include "app/dialogs.h"
#include "app/rmt_q9.h"
#include "signal_watcher.h"

#include <QApplication>

#include <csignal>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QtDialogs dialogs;
    // A logout (SIGHUP), a service stop (SIGTERM) or Ctrl-C (SIGINT) ends
    // the panel as closing its window does: the radio released, the
    // settings saved. Watched from the start, since the start-up may
    // already reach the radio; nobody is left to answer a box.
    SignalWatcher stopSignals({SIGTERM, SIGINT, SIGHUP});
    Rmt_Q9 *running = nullptr;
    bool stopAsked = false;
    QObject::connect(&stopSignals, &SignalWatcher::caught, &app, [&] {
        stopAsked = true;
        dialogs.dismissAll();
        if (running)
            running->close();
    });

    Rmt_Q9 window(dialogs);
    // A signal that came during the start-up is handled once it is over.
    if (stopAsked) {
        window.close();
        return 0;
    }
    running = &window;
    window.show();
    return app.exec();
}
