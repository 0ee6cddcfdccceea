#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

// The clients a relay serves, by address: single addresses and networks,
// IPv4 or IPv6 ("192.168.1.7", "192.168.1.0/24", "fd00::/8"), or anyone.
// An IPv4 client reaching an IPv6 listener ("::ffff:192.168.1.7") counts as
// the IPv4 address it is.
class AccessList
{
public:
    // Clients on this computer only: 127.0.0.0/8 and ::1.
    AccessList();

    // "any", or addresses and networks separated by commas; nothing when an
    // entry is neither.
    static std::optional<AccessList> parse(const QString &text);

    bool allows(const QHostAddress &client) const;
    // Whether it admits nobody from beyond this computer.
    bool loopbackOnly() const;

private:
    QList<std::pair<QHostAddress, int>> m_networks;
};

// The address a peer really has: an IPv4-mapped IPv6 address as IPv4.
QHostAddress plainAddress(const QHostAddress &address);
