#include "link/server_address.h"

#include "host_port.h"

ServerAddress serverAddressFrom(const QString &text)
{
    const auto split = splitHostPort(text);
    if (!split || split->port == 0)
        return {text};
    return {split->host, split->port.value_or(ServerAddress::DefaultPort)};
}
