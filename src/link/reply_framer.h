#pragma once

#include <QString>
#include <QStringList>

// Cuts the text arriving from the radio into replies: everything up to and
// including each ";", in order, with nothing stripped. What follows the last
// ";" waits for the next chunk. A line that sends noise without ";" cannot
// grow the wait without end: only the newest MaxPending characters are kept,
// far more than the longest reply.
class ReplyFramer
{
public:
    static constexpr qsizetype MaxPending = 4096;

    QStringList feed(const QString &chunk);

private:
    QString m_pending;
};
