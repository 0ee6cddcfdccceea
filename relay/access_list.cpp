#include "access_list.h"

namespace {

std::pair<QHostAddress, int> wholeAddress(const QHostAddress &address)
{
    return {address, address.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128};
}

std::optional<std::pair<QHostAddress, int>> parseEntry(const QString &entry)
{
    if (entry.contains(u'/')) {
        const auto network = QHostAddress::parseSubnet(entry);
        if (network.first.isNull())
            return std::nullopt;
        return network;
    }
    const QHostAddress address(entry);
    if (address.isNull())
        return std::nullopt;
    return wholeAddress(plainAddress(address));
}

} // namespace

AccessList::AccessList()
    : m_networks{{QHostAddress(QStringLiteral("127.0.0.0")), 8}, wholeAddress(QHostAddress::LocalHostIPv6)}
{ }

std::optional<AccessList> AccessList::parse(const QString &text)
{
    AccessList list;
    list.m_networks.clear();
    if (text.trimmed() == u"any") {
        list.m_networks = {{QHostAddress::AnyIPv4, 0}, {QHostAddress::AnyIPv6, 0}};
        return list;
    }
    for (const QString &entry : text.split(u',')) {
        const auto network = parseEntry(entry.trimmed());
        if (!network)
            return std::nullopt;
        list.m_networks.append(*network);
    }
    return list;
}

bool AccessList::allows(const QHostAddress &client) const
{
    const QHostAddress address = plainAddress(client);
    for (const auto &network : m_networks) {
        if (address.isInSubnet(network))
            return true;
    }
    return false;
}

bool AccessList::loopbackOnly() const
{
    for (const auto &[address, prefix] : m_networks) {
        const int loopbackPrefix = address.protocol() == QAbstractSocket::IPv4Protocol ? 8 : 128;
        if (!address.isLoopback() || prefix < loopbackPrefix)
            return false;
    }
    return true;
}

QHostAddress plainAddress(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(ipv4) : address;
}
