#include "line_pacer.h"

LinePacer::LinePacer(QObject *parent)
    : QObject(parent)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(2);
    connect(&m_timer, &QTimer::timeout, this, &LinePacer::drain);
}

void LinePacer::setCharactersPerSecond(int charactersPerSecond)
{
    m_charactersPerSecond = charactersPerSecond;
}

void LinePacer::write(const QByteArray &bytes)
{
    if (m_charactersPerSecond <= 0) {
        emit output(bytes);
        return;
    }
    m_queue += bytes.left(MaxQueued - m_queue.size());
    if (!m_timer.isActive()) {
        m_clock.start();
        m_sent = 0;
        m_timer.start();
    }
}

// Timer ticks are late on a busy machine, so the budget is worked out from
// the time since the line became busy rather than counted per tick.
void LinePacer::drain()
{
    const qint64 due = m_clock.nsecsElapsed() * m_charactersPerSecond / 1'000'000'000 - m_sent;
    const QByteArray chunk = m_queue.left(due);
    m_queue.remove(0, chunk.size());
    m_sent += chunk.size();
    if (m_queue.isEmpty())
        m_timer.stop();
    if (!chunk.isEmpty())
        emit output(chunk);
}

std::chrono::milliseconds LinePacer::drainTime() const
{
    return std::chrono::milliseconds(m_charactersPerSecond > 0 ? m_queue.size() * 1000 / m_charactersPerSecond
                                                               : 0);
}
