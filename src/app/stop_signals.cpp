#include "stop_signals.h"

#include "app/dialogs.h"
#include "app/rmt_q9.h"

#include <csignal>

StopSignals::StopSignals(Dialogs &dialogs, QObject *parent)
    : QObject(parent)
    , m_dialogs(dialogs)
    , m_watcher({SIGTERM, SIGINT, SIGHUP})
{
    connect(&m_watcher, &SignalWatcher::caught, this, &StopSignals::onSignal);
}

void StopSignals::watch(Rmt_Q9 &window)
{
    m_window = &window;
    if (m_caught)
        window.stop();
}

void StopSignals::onSignal()
{
    m_caught = true;
    m_dialogs.dismissAll();
    if (m_window)
        m_window->stop();
}
