#pragma once

#include <QString>

// Where the server box's text points: "host", "host:port", "[IPv6 address]:port"
// or a bare IPv6 address. Without a port it is the relay's own, 2300. A port
// that is not one (1 to 65535) leaves the whole text as the host, which
// then fails to connect like any wrong address. "tls:" before any of them
// asks for a secure link ("tls:shack", "tls:[fd00::7]:2301"), in any case.
struct ServerAddress
{
    static constexpr quint16 DefaultPort = 2300;

    QString host;
    quint16 port = DefaultPort;
    bool secure = false;

    // "host:port" as the relay's pin is kept under: a name in lower case,
    // an IPv6 address in brackets.
    QString hostPort() const;
};

ServerAddress serverAddressFrom(const QString &text);
