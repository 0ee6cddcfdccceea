#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>

// Lets bytes out no faster than a serial line would carry them.
// With no rate set, bytes pass straight through.
class LinePacer : public QObject
{
    Q_OBJECT

public:
    // A reader that never drains us must not make the queue grow for ever.
    static constexpr qsizetype MaxQueued = 64 * 1024;

    explicit LinePacer(QObject *parent = nullptr);

    void setCharactersPerSecond(int charactersPerSecond);
    // Bytes written that have not come out yet.
    qsizetype pending() const { return m_queue.size(); }
    // How long they take to come out.
    std::chrono::milliseconds drainTime() const;

public slots:
    void write(const QByteArray &bytes);

signals:
    void output(const QByteArray &bytes);

private:
    void drain();

    QByteArray m_queue;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_sent = 0;
    int m_charactersPerSecond = 0;
};
