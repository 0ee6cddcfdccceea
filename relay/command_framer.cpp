#include "command_framer.h"

CommandFramer::Cut CommandFramer::feed(QByteArrayView data)
{
    Cut cut;
    for (const char c : data) {
        if (m_signOffAllowed && c == '#' && (m_pending.isEmpty() || m_pending == "#") && !m_discarding) {
            if (!m_pending.isEmpty()) {
                m_pending.clear();
                cut.signedOff = true;
                return cut;
            }
            m_pending = "#";
            continue;
        }
        if (c == ';') {
            if (!m_discarding)
                cut.commands.append(m_pending + ';');
            m_pending.clear();
            m_discarding = false;
        } else if (!m_discarding) {
            m_pending += c;
            m_discarding = m_pending.size() > MaxCommand;
            if (m_discarding)
                m_pending.clear();
        }
    }
    return cut;
}
