#include "console.h"
#include "relay_server.h"
#include "serial_link.h"
#include "signal_watcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>

namespace {

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Relay server between a Q9 transceiver on a serial port (4800 8N1, no flow\n"
                       "control) and one remote panel on the network. If the port goes away it is\n"
                       "tried again every second; bytes meanwhile are lost.\n\n")
        + RelayServer::behaviour());
    addHelpAndVersion(parser);
    parser.addOptions({
        {QStringLiteral("device"), QStringLiteral("Serial port of the radio, e.g. /dev/ttyUSB0."),
         QStringLiteral("DEVICE")},
        {QStringLiteral("listen"),
         QStringLiteral("Serve on ADDRESS:PORT (port 0 picks a free one). Default: 127.0.0.1:2300."),
         QStringLiteral("ADDRESS:PORT"), QStringLiteral("127.0.0.1:2300")},
    });
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("q9relay"));
    QCoreApplication::setApplicationVersion(QStringLiteral(Q9_VERSION));

    QCommandLineParser parser;
    addOptions(parser);
    if (const int error = parseCommandLine(parser))
        return error;
    if (!parser.isSet(QStringLiteral("device")))
        return usageError(QStringLiteral("--device is required"));
    const QString listenProblem = RelayServer::endpointProblem(parser.value(QStringLiteral("listen")));
    if (!listenProblem.isEmpty())
        return usageError(listenProblem);

    SerialLink device(parser.value(QStringLiteral("device")));
    if (!device.open()) {
        printError(QStringLiteral("cannot open %1").arg(device.errorString()));
        return 1;
    }
    RelayServer server;
    if (!server.listen(parser.value(QStringLiteral("listen")))) {
        printError(server.errorString());
        return 1;
    }
    QObject::connect(&server, &RelayServer::clientData, &device, &SerialLink::send);
    QObject::connect(&device, &SerialLink::received, &server, &RelayServer::sendToClient);
    QObject::connect(&server, &RelayServer::message, &printError);
    QObject::connect(&device, &SerialLink::message, &printError);

    SignalWatcher signalWatcher({SIGINT, SIGTERM});
    QObject::connect(&signalWatcher, &SignalWatcher::caught, &app, &QCoreApplication::quit);

    printInfo(QStringLiteral("listening on %1, radio on %2")
                  .arg(server.endpoint(), parser.value(QStringLiteral("device"))));
    return QCoreApplication::exec();
}
