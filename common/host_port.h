#pragma once

#include <QHostAddress>
#include <QString>

#include <optional>

// Where a text such as "shack", "shack:2301", "[fd00::7]:2301", "fd00::7" or
// "127.0.0.1:2300" points, as the panel's server box and the relay's options
// take it. Several colons without brackets are an IPv6 address, not a port.
struct HostPort
{
    QString host;
    std::optional<quint16> port;
};

// Nothing when the text has a port that is not a number from 0 to 65535.
std::optional<HostPort> splitHostPort(const QString &text);

// An IP address as written on the relay's command line: IPv4 as four
// decimal numbers without leading zeros ("010" is 8 to some readers and 10
// to others), or IPv6. An IPv4-mapped IPv6 address is the IPv4 address it
// carries. Nothing for any other text.
std::optional<QHostAddress> parseAddress(const QString &text);

// An address and port as written back: "127.0.0.1:2300", "[::1]:2300".
QString joinHostPort(const QHostAddress &address, quint16 port);

// The address a peer really has: an IPv4-mapped IPv6 address as IPv4.
QHostAddress plainAddress(const QHostAddress &address);
