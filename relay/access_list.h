#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

// The clients a relay serves, by address: single addresses and networks,
// IPv4 or IPv6 ("192.168.1.7", "192.168.1.0/24", "fd00::/8"), or anyone.
// An IPv4 client reaching an IPv6 listener ("::ffff:192.168.1.7") counts as
// the IPv4 address it is, and so does such an entry.
class AccessList
{
public:
    // This computer alone: loopback clients, and clients from any address
    // of its own, whatever address the relay listens on.
    AccessList();

    // "any", or addresses and networks separated by commas. Nothing for a
    // list with an entry that is neither, or that says more or less than it
    // seems to: leading zeros, host bits beyond a network's prefix, or "/0"
    // for everybody; *problem then tells what is wrong.
    static std::optional<AccessList> parse(const QString &text, QString *problem = nullptr);

    bool allows(const QHostAddress &client) const;
    // Whether it admits nobody from beyond this computer.
    bool thisComputerOnly() const;
    // Whether it admits anybody who can reach a listener on the address
    // ("::" takes both families).
    bool admitsAnyReaching(const QHostAddress &listening) const;

private:
    QList<std::pair<QHostAddress, int>> m_networks;
    bool m_ownAddresses = false;
};
