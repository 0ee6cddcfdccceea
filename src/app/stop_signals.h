#pragma once

#include "signal_watcher.h"

#include <QObject>
#include <QPointer>

class Dialogs;
class Rmt_Q9;

// A logout (SIGHUP), a service stop (SIGTERM) or Ctrl-C (SIGINT) ends the
// panel as closing its window does, the radio released and the settings
// saved, at once from whatever it is waiting for, with nobody left to
// answer a box. Watched from the start, since the start-up may already
// reach the radio: a signal that comes before the window is handed over is
// kept for then. Later signals are ignored, so the orderly end runs to its
// end.
class StopSignals : public QObject
{
public:
    explicit StopSignals(Dialogs &dialogs, QObject *parent = nullptr);

    // From now on a signal stops this window; one already caught stops it now.
    void watch(Rmt_Q9 &window);
    bool caught() const { return m_caught; }

private:
    void onSignal();

    Dialogs &m_dialogs;
    SignalWatcher m_watcher;
    QPointer<Rmt_Q9> m_window;
    bool m_caught = false;
};
