#pragma once

#include <QList>
#include <QObject>

#include <initializer_list>

class QSocketNotifier;

// Turns Unix signals into a Qt signal delivered by the event loop, so a
// program can quit the normal way (and clean up) on SIGINT or SIGTERM.
// The first one is delivered; the watched signals are ignored from then
// on, for the rest of the run, so that a second Ctrl-C or a logout's burst
// of signals cannot kill the program in the middle of its orderly end.
// Only one watcher may exist at a time.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(std::initializer_list<int> signalNumbers, QObject *parent = nullptr);
    ~SignalWatcher() override;

signals:
    void caught(int signalNumber);

private:
    void readPipe();

    QList<int> m_signalNumbers;
    QSocketNotifier *m_notifier = nullptr;
    bool m_caught = false;
};
