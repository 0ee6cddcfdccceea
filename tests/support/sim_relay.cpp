#include "sim_relay.h"

SimRelay::SimRelay()
{
    QObject::connect(&server, &RelayServer::clientData, &radio, [this](const QByteArray &bytes) {
        heard += bytes;
        radio.receive(bytes);
    });
    QObject::connect(&radio, &SimRadio::output, &server, &RelayServer::sendToClient);
}
