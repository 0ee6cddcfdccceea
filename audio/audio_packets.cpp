#include "audio_packets.h"

#include <QtEndian>

namespace AudioPackets {

namespace {
constexpr int HeaderBytes = 12;
constexpr int LengthBytes = 2;
constexpr quint8 Version2 = 0x80;
} // namespace

std::optional<Header> headerOf(const QByteArray &packet)
{
    const auto *bytes = reinterpret_cast<const uchar *>(packet.constData());
    if (packet.size() < HeaderBytes || (bytes[0] & 0xc0) != Version2)
        return std::nullopt;
    return Header{qFromBigEndian<quint16>(bytes + 2), qFromBigEndian<quint32>(bytes + 4),
                  qFromBigEndian<quint32>(bytes + 8)};
}

QByteArray framed(const QByteArray &packet)
{
    QByteArray bytes(LengthBytes, Qt::Uninitialized);
    qToBigEndian(quint16(packet.size()), bytes.data());
    return bytes + packet;
}

QList<QByteArray> Deframer::feed(const QByteArray &bytes)
{
    m_pending += bytes;
    QList<QByteArray> packets;
    qsizetype at = 0;
    while (m_pending.size() - at >= LengthBytes) {
        const quint16 length = qFromBigEndian<quint16>(m_pending.constData() + at);
        if (m_pending.size() - at - LengthBytes < length)
            break;
        packets.append(m_pending.mid(at + LengthBytes, length));
        at += LengthBytes + length;
    }
    m_pending.remove(0, at);
    return packets;
}

} // namespace AudioPackets
