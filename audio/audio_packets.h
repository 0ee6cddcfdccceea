#pragma once

#include <QByteArray>
#include <QList>

#include <optional>

// The receiver's audio travels as RTP packets: one a datagram on UDP, and
// on TCP each preceded by its length in two bytes (RFC 4571), so that the
// stream passes where only TCP does, an SSH tunnel among them.
namespace AudioPackets {

// The fields of an RTP header the receiving end looks at; these stay in
// clear in SRTP too.
struct Header
{
    quint16 sequence = 0;
    quint32 timestamp = 0;
    quint32 ssrc = 0;
};

std::optional<Header> headerOf(const QByteArray &packet);

// A packet with its length before it, for TCP.
QByteArray framed(const QByteArray &packet);

// Whole packets out of a TCP stream, however its bytes were cut.
class Deframer
{
public:
    QList<QByteArray> feed(const QByteArray &bytes);

private:
    QByteArray m_pending;
};

} // namespace AudioPackets
