#pragma once

#include <functional>

// The one way the panel waits: it keeps handling events (replies, timers,
// clicks) until `done` holds or `seconds` have passed, sleeping in the event
// loop meanwhile rather than spinning. Timed on a monotonic clock, so a wait
// across midnight or a clock change lasts as long as asked. Returns whether
// `done` held. Never start one inside a device's readyRead handler: Qt holds
// back that device's next readyRead until the handler returns.
bool waitUntil(const std::function<bool()> &done, double seconds);

// Keeps handling events for the given time.
void waitFor(double seconds);
