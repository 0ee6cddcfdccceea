#include "link/server_address.h"

ServerAddress serverAddressFrom(const QString &text)
{
    const qsizetype colon = text.lastIndexOf(u':');
    const bool bracketed = text.startsWith(u'[');
    // Several colons without brackets are an IPv6 address, not a port.
    const bool hasPort
        = bracketed ? colon > 0 && text.at(colon - 1) == u']' : colon >= 0 && text.indexOf(u':') == colon;
    QString host = hasPort ? text.left(colon) : text;
    if (bracketed && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    if (!hasPort)
        return {host};
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return {text};
    return {host, quint16(port)};
}
