#pragma once

#include "framer.h"
#include "radio_queue.h"

#include <QTcpSocket>

#include <optional>

// Whether the radio transmits, asked of a relay on a client's link as a
// CAT program asks: "IF;", and the status record's transmit digit. On the
// link that keys, the question goes after the keying, so the answer is the
// radio's after it. What else the link brings is passed over.
class RadioWatch
{
public:
    explicit RadioWatch(QTcpSocket &link)
        : m_socket(link)
    { }

    // Nothing when the relay does not answer in time. Events are served
    // meanwhile, so the caller's own timers and sockets go on.
    std::optional<bool> transmitting();

private:
    QTcpSocket &m_socket;
    Framer m_replies{RadioQueue::MaxReply};
};
