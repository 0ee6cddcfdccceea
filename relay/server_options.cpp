#include "server_options.h"

#include "access_list.h"
#include "relay_server.h"

namespace {
const QString Listen = QStringLiteral("listen");
const QString Allow = QStringLiteral("allow");
} // namespace

void addServerOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        {Listen,
         QStringLiteral("Serve on ADDRESS:PORT (port 0 picks a free one; an IPv6 address goes in "
                        "brackets, and [::]:2300 serves every address). Default: 127.0.0.1:2300."),
         QStringLiteral("ADDRESS:PORT"), QStringLiteral("127.0.0.1:2300")},
        {Allow,
         QStringLiteral("Serve only clients from LIST: addresses and networks, IPv4 or IPv6, separated "
                        "by commas (192.168.1.0/24,fd00::/8,10.0.0.7), or \"any\". Default: this "
                        "computer only (loopback and its own addresses), whatever --listen says."),
         QStringLiteral("LIST")},
    });
}

QString serverOptionsProblem(const QCommandLineParser &parser)
{
    const QString listenProblem = RelayServer::endpointProblem(parser.value(Listen));
    if (!listenProblem.isEmpty())
        return listenProblem;
    QString allowProblem;
    if (parser.isSet(Allow) && !AccessList::parse(parser.value(Allow), &allowProblem))
        return QStringLiteral("bad --allow list \"%1\": %2 (expected addresses and networks separated "
                              "by commas, e.g. 192.168.1.0/24,::1, or any)")
            .arg(parser.value(Allow), allowProblem);
    return {};
}

bool startServer(RelayServer &server, const QCommandLineParser &parser)
{
    if (parser.isSet(Allow))
        server.setAccess(*AccessList::parse(parser.value(Allow)));
    return server.listen(parser.value(Listen));
}
