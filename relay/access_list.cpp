#include "access_list.h"

#include "host_port.h"

#include <QNetworkInterface>

namespace {

using Network = std::pair<QHostAddress, int>;

const Network LoopbackIPv4{QHostAddress(QStringLiteral("127.0.0.0")), 8};
const Network LoopbackIPv6{QHostAddress(QHostAddress::LocalHostIPv6), 128};

bool contains(const Network &outer, const Network &inner)
{
    return inner.second >= outer.second && inner.first.isInSubnet(outer);
}

bool overlap(const Network &one, const Network &other)
{
    return contains(one, other) || contains(other, one);
}

// Only this computer reaches a loopback address; any other is reached by
// clients of its own family.
Network clientsReaching(const QHostAddress &address)
{
    const bool ipv4 = address.protocol() == QAbstractSocket::IPv4Protocol;
    if (address.isLoopback())
        return ipv4 ? LoopbackIPv4 : LoopbackIPv6;
    return {QHostAddress(ipv4 ? QHostAddress::AnyIPv4 : QHostAddress::AnyIPv6), 0};
}

int addressBits(const QHostAddress &address)
{
    return address.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128;
}

// The address with every bit beyond the prefix cleared.
QHostAddress networkOf(const QHostAddress &address, int prefix)
{
    if (address.protocol() == QAbstractSocket::IPv4Protocol)
        return QHostAddress(prefix == 0 ? 0 : address.toIPv4Address() & (~quint32(0) << (32 - prefix)));
    Q_IPV6ADDR bytes = address.toIPv6Address();
    for (int bit = prefix; bit < 128; ++bit)
        bytes[bit / 8] &= quint8(~(0x80 >> (bit % 8)));
    return QHostAddress(bytes);
}

std::optional<int> prefixLength(const QString &text)
{
    bool ok = false;
    const int prefix = text.toInt(&ok);
    if (!ok || text.isEmpty() || !text.front().isDigit() || (text.size() > 1 && text.front() == u'0'))
        return std::nullopt;
    return prefix;
}

// One entry, or the reason it is refused.
std::optional<Network> parseEntry(const QString &entry, QString &problem)
{
    const QString addressText = entry.section(u'/', 0, 0);
    const auto address = parseAddress(addressText);
    if (!address) {
        problem = QStringLiteral("\"%1\" is not an address (IPv4 is four decimal numbers without "
                                 "leading zeros, as in 192.168.1.7)")
                      .arg(addressText);
        return std::nullopt;
    }
    if (!entry.contains(u'/'))
        return Network{*address, addressBits(*address)};
    auto prefix = prefixLength(entry.section(u'/', 1));
    // An IPv4-mapped network is the IPv4 network it carries.
    if (prefix && address->protocol() == QAbstractSocket::IPv4Protocol
        && QHostAddress(addressText).protocol() == QAbstractSocket::IPv6Protocol)
        *prefix -= 96;
    if (!prefix || *prefix < 0 || *prefix > addressBits(*address)) {
        problem = QStringLiteral("\"%1\" has no prefix length that fits its address").arg(entry);
        return std::nullopt;
    }
    if (*prefix == 0) {
        problem = QStringLiteral("\"%1\" admits everybody; say \"any\" if that is meant").arg(entry);
        return std::nullopt;
    }
    const QHostAddress network = networkOf(*address, *prefix);
    if (network != *address) {
        problem = QStringLiteral("\"%1\" has bits set beyond its prefix; the network is %2/%3")
                      .arg(entry, network.toString())
                      .arg(*prefix);
        return std::nullopt;
    }
    return Network{network, *prefix};
}

bool isOwnAddress(const QHostAddress &address)
{
    const QList<QHostAddress> own = QNetworkInterface::allAddresses();
    return std::any_of(own.begin(), own.end(),
                       [&address](const QHostAddress &mine) { return plainAddress(mine) == address; });
}

} // namespace

AccessList::AccessList()
    : m_networks{LoopbackIPv4, LoopbackIPv6}
    , m_ownAddresses(true)
{ }

std::optional<AccessList> AccessList::parse(const QString &text, QString *problem)
{
    AccessList list;
    list.m_networks.clear();
    list.m_ownAddresses = false;
    if (text.trimmed() == u"any") {
        list.m_networks = {{QHostAddress::AnyIPv4, 0}, {QHostAddress::AnyIPv6, 0}};
        return list;
    }
    QString why;
    for (const QString &entry : text.split(u',')) {
        const auto network = parseEntry(entry.trimmed(), why);
        if (!network) {
            if (problem)
                *problem = why;
            return std::nullopt;
        }
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
    return m_ownAddresses && isOwnAddress(address);
}

bool AccessList::thisComputerOnly() const
{
    return m_ownAddresses || std::all_of(m_networks.begin(), m_networks.end(), [](const Network &entry) {
               return contains(LoopbackIPv4, entry) || contains(LoopbackIPv6, entry);
           });
}

bool AccessList::admitsAnyReaching(const QHostAddress &listening) const
{
    const QHostAddress address = plainAddress(listening);
    if (address == QHostAddress(QHostAddress::AnyIPv6))
        return true;
    const Network reaching = clientsReaching(address);
    return std::any_of(m_networks.begin(), m_networks.end(),
                       [&reaching](const Network &entry) { return overlap(entry, reaching); });
}
