#pragma once

#include <QCommandLineParser>
#include <QString>

#include <memory>

class AudioStream;
class RelayServer;

// The options that put a relay server on the network and on terminals, as
// q9relay and q9sim take them: --listen, --cat-listen, --cat-pty, --allow
// and --max-clients, and --audio-listen for the receiver's audio.
void addServerOptions(QCommandLineParser &parser);

// What is wrong with them, or an empty text.
QString serverOptionsProblem(const QCommandLineParser &parser);

// Admits the clients --allow names, up to --max-clients, listens and serves
// the terminals where the options say, serves the audio when there is any,
// and takes the radio; false, with the server's errorString(), when it
// cannot serve there. Returns, for the log, where it serves.
bool startServer(RelayServer &server, const QCommandLineParser &parser, QString *where = nullptr,
                 std::unique_ptr<AudioStream> audio = nullptr);
