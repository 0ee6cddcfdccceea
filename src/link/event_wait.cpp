#include "event_wait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cmath>

bool waitUntil(const std::function<bool()> &done, double seconds)
{
    if (done())
        return true;
    // The deadline is a precise single-shot timer, not a clock comparison:
    // a loop asleep in processEvents only wakes for an event, and the timer
    // is the event that ends the wait.
    bool timedOut = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, [&timedOut] { timedOut = true; });
    const double ms = std::isfinite(seconds) ? std::clamp(std::ceil(seconds * 1000), 0.0, 2.0e9) : 0.0;
    deadline.start(static_cast<int>(ms));
    while (!timedOut) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (done())
            return true;
    }
    return done();
}

void waitFor(double seconds)
{
    waitUntil([] { return false; }, seconds);
}
