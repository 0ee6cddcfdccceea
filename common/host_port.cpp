#include "host_port.h"

#include <algorithm>

namespace {

bool isDecimalByte(QStringView part)
{
    if (part.isEmpty() || part.size() > 3 || (part.size() > 1 && part.front() == u'0'))
        return false;
    for (const QChar c : part) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return part.toInt() <= 255;
}

bool isDottedDecimal(QStringView text)
{
    const auto parts = text.split(u'.');
    return parts.size() == 4 && std::all_of(parts.begin(), parts.end(), isDecimalByte);
}

} // namespace

std::optional<HostPort> splitHostPort(const QString &text)
{
    const qsizetype colon = text.lastIndexOf(u':');
    const bool bracketed = text.startsWith(u'[');
    const bool hasPort
        = bracketed ? colon > 0 && text.at(colon - 1) == u']' : colon >= 0 && text.indexOf(u':') == colon;
    QString host = hasPort ? text.left(colon) : text;
    if (bracketed && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    if (!hasPort)
        return HostPort{host, std::nullopt};
    const QStringView portText = QStringView(text).mid(colon + 1);
    const bool digits = !portText.isEmpty() && portText.size() <= 5
        && std::all_of(portText.begin(), portText.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    const uint port = portText.toUInt();
    if (!digits || port > 65535)
        return std::nullopt;
    return HostPort{host, quint16(port)};
}

std::optional<QHostAddress> parseAddress(const QString &text)
{
    // IPv4 written out, or as the tail of an IPv6 address: decimal only.
    const QStringView dotted = QStringView(text).mid(text.lastIndexOf(u':') + 1);
    if (dotted.contains(u'.') && !isDottedDecimal(dotted))
        return std::nullopt;
    const QHostAddress address(text);
    if (address.isNull())
        return std::nullopt;
    return plainAddress(address);
}

// "::" is every address, not the IPv4 one Qt reads into it.
QString joinHostPort(const QHostAddress &address, quint16 port)
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
        ? u'[' + address.toString() + u']'
        : address.toString();
    return host + u':' + QString::number(port);
}

QHostAddress plainAddress(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    return mapped && address != QHostAddress(QHostAddress::AnyIPv6) ? QHostAddress(ipv4) : address;
}
