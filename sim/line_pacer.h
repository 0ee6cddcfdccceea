#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// Lets bytes out no faster than a serial line would carry them.
// With no rate set, bytes pass straight through.
class LinePacer : public QObject
{
    Q_OBJECT

public:
    // 4800 baud, 8N1: ten bits on the wire for every character.
    static constexpr int SerialCharactersPerSecond = 480;
    // A reader that never drains us must not make the queue grow for ever.
    static constexpr qsizetype MaxQueued = 64 * 1024;

    explicit LinePacer(QObject *parent = nullptr);

    void setCharactersPerSecond(int charactersPerSecond);

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
