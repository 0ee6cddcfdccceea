#include "reply_framer.h"

QStringList ReplyFramer::feed(const QString &chunk)
{
    QStringList replies;
    qsizetype start = 0;
    for (qsizetype i = 0; i < chunk.size(); ++i) {
        if (chunk.at(i) != u';')
            continue;
        replies.append(m_pending + chunk.mid(start, i + 1 - start));
        m_pending.clear();
        start = i + 1;
    }
    m_pending += QStringView(chunk).mid(start);
    if (m_pending.size() > MaxPending)
        m_pending.remove(0, m_pending.size() - MaxPending);
    return replies;
}
