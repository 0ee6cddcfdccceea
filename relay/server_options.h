#pragma once

#include <QCommandLineParser>
#include <QString>

#include <memory>

class AudioStream;
class RelayServer;

// The options that put a relay server on the network and on terminals, as
// q9relay and q9sim take them: --listen, --cat-listen, --cat-pty, --allow
// and --max-clients, --audio-listen for the receiver's audio, the key and
// operators of secure endpoints (--state, --operators), and how the radio
// is keyed (--ptt, --max-transmit).
void addServerOptions(QCommandLineParser &parser);

// --fingerprint asks for the relay's key: printFingerprint() prints it and
// returns the program's exit status.
bool wantsFingerprint(const QCommandLineParser &parser);
int printFingerprint(const QCommandLineParser &parser);

// How the server keys the radio (--ptt) and for how long at most
// (--max-transmit): before the radio's port opens, as opening it raises its
// control lines.
void applyTransmitOptions(RelayServer &server, const QCommandLineParser &parser);

// What is wrong with them, or an empty text.
QString serverOptionsProblem(const QCommandLineParser &parser);

// Admits the clients --allow names, up to --max-clients, listens and serves
// the terminals where the options say, serves the audio when there is any,
// and takes the radio; false, with the server's errorString(), when it
// cannot serve there. Returns, for the log, where it serves.
bool startServer(RelayServer &server, const QCommandLineParser &parser, QString *where = nullptr,
                 std::unique_ptr<AudioStream> audio = nullptr);
