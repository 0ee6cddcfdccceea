#include "audio_stream.h"
#include "console.h"
#include "relay_server.h"
#include "serial_line.h"
#include "serial_link.h"
#include "server_options.h"
#include "signal_watcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSerialPort>

#include <csignal>
#include <termios.h>
#include <unistd.h>

namespace {

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Relay server that shares a Q9 transceiver on a serial port (4800 8N1, no flow\n"
                       "control) between remote panels and CAT programs. A port that is not there yet,\n"
                       "or goes away, is tried every second; bytes meanwhile are lost, and the network\n"
                       "clients of a port that went away are closed, so that they start afresh.\n\n")
        + RelayServer::behaviour());
    addHelpAndVersion(parser);
    parser.addOption({QStringLiteral("device"),
                      QStringLiteral("Serial port of the radio, e.g. /dev/ttyUSB0."),
                      QStringLiteral("DEVICE")});
    parser.addOption({QStringLiteral("audio-source"),
                      QStringLiteral("Serve the receiver's audio from SOURCE: an ALSA capture device as "
                                     "alsa:DEVICE (alsa:hw:CARD=CODEC,DEV=0 for a radio's USB sound chip; "
                                     "no sound server needed), a PipeWire/PulseAudio source by name, or "
                                     "\"default\", the sound server's default source. A source that is "
                                     "missing or fails is tried again every %1 seconds while the radio "
                                     "stays served. Without it the relay serves no audio.")
                          .arg(AudioStream::RetryInterval.count()),
                      QStringLiteral("SOURCE")});
    parser.addOption({QStringLiteral("unkey"),
                      QStringLiteral("Unkey the radio on --device as --ptt keys it, and exit: the "
                                     "service's last step, however the relay ended. A control line "
                                     "drops by itself as the relay's port closes.")});
    parser.addOption({QStringLiteral("list-audio-sources"),
                      QStringLiteral("List the audio sources of this computer, each with the name to give "
                                     "--audio-source, and exit.")});
    addServerOptions(parser);
}

// Where the radio's level as first found is kept while the relay serves
// it: the service's runtime directory, or the user's.
QString levelRecord(const QString &device)
{
    QString folder = qEnvironmentVariable("RUNTIME_DIRECTORY").section(u':', 0, 0);
    if (folder.isEmpty() && qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"))
        folder = qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/q9relay");
    if (folder.isEmpty())
        folder = QDir::tempPath() + QStringLiteral("/q9relay-%1").arg(::getuid());
    const QString name = QFileInfo(device).absoluteFilePath().mid(1).replace(u'/', u'-');
    return folder + u'/' + name + QStringLiteral(".level");
}

// A terminal in the radio's own place would have the relay talk to itself.
QString terminalProblem(const QCommandLineParser &parser)
{
    const QString device = QFileInfo(parser.value(QStringLiteral("device"))).canonicalFilePath();
    for (const QString &path : parser.values(QStringLiteral("cat-pty"))) {
        if (!device.isEmpty() && QFileInfo(path).canonicalFilePath() == device)
            return QStringLiteral("--cat-pty %1 is the radio's own port").arg(path);
    }
    return {};
}

// A radio keyed by its command hears "RX;"; a control line needs nothing,
// and the port is not opened, as opening it would raise the line.
int unkeyRadio(const QCommandLineParser &parser)
{
    const QString device = parser.value(QStringLiteral("device"));
    if (Transmitter::methodNamed(parser.value(QStringLiteral("ptt"))) != Transmitter::Method::Cat) {
        printInfo(
            QStringLiteral("nothing to unkey on %1: its line dropped as the relay closed it").arg(device));
        return 0;
    }
    QSerialPort port(device);
    setRadioLine(port);
    if (!port.open(QIODevice::WriteOnly)) {
        printError(QStringLiteral("cannot unkey the radio on %1: %2").arg(device, port.errorString()));
        return 1;
    }
    port.write("RX;");
    port.waitForBytesWritten(int(SerialLink::FlushTimeout.count()));
    ::tcdrain(int(port.handle()));
    printInfo(QStringLiteral("unkeyed the radio on %1").arg(device));
    return 0;
}

// One source a line: the name to pass, and what it is.
int listAudioSources()
{
    QList<AudioStream::Source> sources;
    QString problem;
    if (!AudioStream::listSources(&sources, &problem)) {
        printError(problem);
        return 1;
    }
    qsizetype width = 0;
    for (const AudioStream::Source &source : std::as_const(sources))
        width = std::max(width, source.name.size());
    QStringList lines;
    for (const AudioStream::Source &source : std::as_const(sources))
        lines.append(QStringLiteral("%1  %2").arg(source.name, -int(width)).arg(source.description));
    if (lines.isEmpty())
        printError(QStringLiteral("no audio sources found: no sound server runs and no sound card is "
                                  "known; an ALSA device defined in asound.conf is passed as alsa:NAME"));
    else
        std::fputs(qPrintable(lines.join(u'\n') + u'\n'), stdout);
    return 0;
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
    if (parser.isSet(QStringLiteral("list-audio-sources")))
        return listAudioSources();
    if (wantsFingerprint(parser))
        return printFingerprint(parser);
    if (!parser.isSet(QStringLiteral("device")))
        return usageError(QStringLiteral("--device is required"));
    for (const QString &option : {QStringLiteral("audio-listen"), QStringLiteral("audio-sink")}) {
        if (parser.isSet(option) && !parser.isSet(QStringLiteral("audio-source")))
            return usageError(QStringLiteral("--%1 needs --audio-source").arg(option));
    }
    for (const QString &problem : {serverOptionsProblem(parser), terminalProblem(parser)}) {
        if (!problem.isEmpty())
            return usageError(problem);
    }
    if (parser.isSet(QStringLiteral("unkey")))
        return unkeyRadio(parser);

    SerialLink device(parser.value(QStringLiteral("device")));
    QObject::connect(&device, &SerialLink::message, &printError);
    RelayServer server(device);
    QObject::connect(&server, &RelayServer::message, &printError);
    applyTransmitOptions(server, parser);
    if (!device.start()) {
        printError(QStringLiteral("cannot open %1").arg(device.errorString()));
        return 1;
    }
    server.queue().setLevelRecord(levelRecord(parser.value(QStringLiteral("device"))));
    QString where;
    std::unique_ptr<AudioStream> audio;
    if (parser.isSet(QStringLiteral("audio-source")))
        audio = std::make_unique<AudioStream>(parser.value(QStringLiteral("audio-source")));
    if (!startServer(server, parser, &where, std::move(audio))) {
        printError(server.errorString());
        return 1;
    }
    QObject::connect(&device, &SerialLink::failed, [](const QString &why) {
        printError(QStringLiteral("cannot open %1").arg(why));
        QCoreApplication::exit(1);
    });

    SignalWatcher signalWatcher({SIGINT, SIGTERM});
    QObject::connect(&signalWatcher, &SignalWatcher::caught, &app, &QCoreApplication::quit);

    printInfo(QStringLiteral("%1, radio on %2").arg(where, parser.value(QStringLiteral("device"))));
    const int status = QCoreApplication::exec();
    server.giveRadioBack();
    return status;
}
