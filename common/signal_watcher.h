#pragma once

#include <QList>
#include <QObject>

#include <initializer_list>

class QSocketNotifier;

// Turns Unix signals into a Qt signal delivered by the event loop, so a
// program can quit the normal way (and clean up) on SIGINT or SIGTERM.
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
};
