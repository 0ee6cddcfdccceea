#pragma once

#include "relay_server.h"
#include "sim_radio.h"

#include <QByteArray>
#include <QString>

// The simulated radio behind the relay server, in the test's own process,
// keeping what the panel sent through it.
class SimRelay
{
public:
    SimRelay();

    // "ADDRESS:PORT"; each test takes its own loopback address, port 2300.
    bool listen(const QString &endpoint) { return server.listen(endpoint); }

    RelayServer server;
    SimRadio radio;
    QByteArray heard;
};
