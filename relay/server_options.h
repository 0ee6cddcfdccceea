#pragma once

#include <QCommandLineParser>
#include <QString>

class RelayServer;

// The options that put a relay server on the network, as q9relay and q9sim
// take them: --listen ADDRESS:PORT and --allow LIST.
void addServerOptions(QCommandLineParser &parser);

// What is wrong with them, or an empty text.
QString serverOptionsProblem(const QCommandLineParser &parser);

// Admits the clients --allow names and listens where --listen says; false,
// with the server's errorString(), when it cannot listen there.
bool startServer(RelayServer &server, const QCommandLineParser &parser);
