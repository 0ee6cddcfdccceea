#include "radio_watch.h"

#include "programs.h"
#include "sim_radio.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

// Read as it arrives rather than polled, so that a benchmark can time the
// answer to the millisecond.
std::optional<bool> RadioWatch::transmitting()
{
    m_socket.write("IF;");
    const QDeadlineTimer deadline(ProcessTimeout);
    while (!deadline.hasExpired()) {
        m_socket.waitForReadyRead(10);
        std::optional<bool> said;
        for (const QByteArray &reply : m_replies.feed(m_socket.readAll())) {
            if (reply.startsWith("IF") && reply.size() > SimRadio::TransmitDigit)
                said = reply.at(SimRadio::TransmitDigit) == '1';
        }
        if (said)
            return said;
        QCoreApplication::processEvents();
    }
    return std::nullopt;
}
