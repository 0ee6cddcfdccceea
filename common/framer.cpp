#include "framer.h"

QByteArrayList Framer::feed(QByteArrayView data)
{
    QByteArrayList pieces;
    for (const char c : data) {
        if (m_signedOff)
            break;
        if (c == ';') {
            if (!m_discarding)
                pieces.append(m_pending + ';');
            m_pending.clear();
            m_discarding = false;
            continue;
        }
        if (m_discarding)
            continue;
        m_pending += c;
        if (reachedSignOff()) {
            m_signedOff = true;
            m_pending.clear();
        } else if (m_pending.size() > m_limit) {
            m_discarding = true;
            m_pending.clear();
        }
    }
    return pieces;
}

// Only where a piece could begin: inside one, "#" is text like any other.
bool Framer::reachedSignOff() const
{
    return !m_signOff.isEmpty() && m_pending == m_signOff;
}
