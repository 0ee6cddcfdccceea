#pragma once

#include <QString>

// Where the server box's text points: "host", "host:port", "[IPv6 address]:port"
// or a bare IPv6 address. Without a port it is the relay's own, 2300. A port
// that is not one (1 to 65535) leaves the whole text as the host, which
// then fails to connect like any wrong address.
struct ServerAddress
{
    static constexpr quint16 DefaultPort = 2300;

    QString host;
    quint16 port = DefaultPort;
};

ServerAddress serverAddressFrom(const QString &text);
