#include "link/server_address.h"

#include "host_port.h"

namespace {
constexpr QStringView SecurePrefix = u"tls:";
}

ServerAddress serverAddressFrom(const QString &text)
{
    const bool secure = text.startsWith(SecurePrefix, Qt::CaseInsensitive);
    const QString rest = secure ? text.mid(SecurePrefix.size()) : text;
    const auto split = splitHostPort(rest);
    if (!split || split->port == 0)
        return {rest, ServerAddress::DefaultPort, secure};
    return {split->host, split->port.value_or(ServerAddress::DefaultPort), secure};
}

QString ServerAddress::hostPort() const
{
    const QHostAddress address(host);
    if (address.isNull())
        return host.toLower() + u':' + QString::number(port);
    return joinHostPort(address, port);
}
