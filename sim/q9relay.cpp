#include "console.h"
#include "relayserver.h"
#include "seriallink.h"
#include "signalwatcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
            u"Relay server between a Q9 transceiver on a serial port (4800 8N1, no flow\n"
            "control) and one remote panel on the network. If the port goes away it is\n"
            "tried again every second; bytes meanwhile are lost.\n\n"_s
            + RelayServer::behaviour());
    parser.addHelpOption();
    parser.addOptions({
        {u"device"_s, u"Serial port of the radio, e.g. /dev/ttyUSB0."_s, u"DEVICE"_s},
        {u"listen"_s, u"Serve on ADDRESS:PORT (port 0 picks a free one). Default: 127.0.0.1:2300."_s,
         u"ADDRESS:PORT"_s, u"127.0.0.1:2300"_s},
    });
}


} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"q9relay"_s);

    QCommandLineParser parser;
    addOptions(parser);
    if (const int error = parseCommandLine(parser))
        return error;
    if (!parser.isSet(u"device"_s))
        return usageError(u"--device is required"_s);

    SerialLink device(parser.value(u"device"_s));
    if (!device.open()) {
        printError(u"cannot open %1"_s.arg(device.errorString()));
        return 1;
    }
    RelayServer server;
    if (!server.listen(parser.value(u"listen"_s))) {
        printError(server.errorString());
        return 1;
    }
    QObject::connect(&server, &RelayServer::clientData, &device, &SerialLink::send);
    QObject::connect(&device, &SerialLink::received, &server, &RelayServer::sendToClient);
    QObject::connect(&server, &RelayServer::message, &printError);
    QObject::connect(&device, &SerialLink::message, &printError);

    SignalWatcher signalWatcher({SIGINT, SIGTERM});
    QObject::connect(&signalWatcher, &SignalWatcher::caught, &app, &QCoreApplication::quit);

    printInfo(u"listening on %1, radio on %2"_s.arg(server.endpoint(), parser.value(u"device"_s)));
    return QCoreApplication::exec();
}
