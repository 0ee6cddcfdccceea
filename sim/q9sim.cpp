#include "audio_stream.h"
#include "console.h"
#include "pseudo_terminal.h"
#include "relay_server.h"
#include "server_options.h"
#include "signal_watcher.h"
#include "sim_radio.h"
#include "sim_receiver.h"
#include "simulated_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHash>

#include <csignal>

namespace {

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Simulated Q9 transceiver for running and testing the remote panel without a radio.\n"
                       "It serves either a pseudo-terminal (--pty) or, by default, a relay server\n"
                       "(--listen, --cat-listen, --cat-pty, --allow).\n\n")
        + RelayServer::behaviour());
    addHelpAndVersion(parser);
    parser.addOptions({
        {QStringLiteral("pty"),
         QStringLiteral("Serve a pseudo-terminal and make PATH a symlink to it (removed on exit)."),
         QStringLiteral("PATH")},
        {QStringLiteral("vfoa"), QStringLiteral("Start with VFO A on HZ."), QStringLiteral("HZ")},
        {QStringLiteral("vfob"), QStringLiteral("Start with VFO B on HZ."), QStringLiteral("HZ")},
        {QStringLiteral("mode"),
         QStringLiteral("Start in mode DIGIT: 1 LSB, 2 USB, 3 CW, 6 DATA, 7 CW-R, 9 DATA-R."),
         QStringLiteral("DIGIT")},
        {QStringLiteral("power-form"),
         QStringLiteral(
             "Power reply form: long (tenths of a watt, \"PC1050;\") or short (watts, \"PC010;\")."),
         QStringLiteral("FORM"), QStringLiteral("long")},
        {QStringLiteral("tune-seconds"),
         QStringLiteral("Length of a tune carrier; CW keying time scales with it. Default: 3."),
         QStringLiteral("S"), QStringLiteral("3")},
        {QStringLiteral("seed"), QStringLiteral("Seed for the S-meter readings, for repeatable runs."),
         QStringLiteral("N")},
        {QStringLiteral("probe"),
         QStringLiteral("Answer \"q9;\" probes: all, second (ignore the first, answer later ones) or none."),
         QStringLiteral("WHICH"), QStringLiteral("all")},
        {QStringLiteral("silent"), QStringLiteral("Take commands but never send anything.")},
        {QStringLiteral("paced"),
         QStringLiteral("Take commands and answer at 4800 baud, as over a real serial line.")},
        {QStringLiteral("audio"),
         QStringLiteral("Serve the receiver's audio (with --listen; see --audio-listen): band noise and a "
                        "carrier on 14,060.600 kHz, heard when the receive VFO is within 3 kHz of it.")},
    });
    addServerOptions(parser);
}

QString badValue(const QCommandLineParser &parser, const QString &name)
{
    return QStringLiteral("bad value for --%1: \"%2\"").arg(name, parser.value(name));
}

// Returns what is wrong with the options, or an empty string.
QString configureRadio(const QCommandLineParser &parser, SimRadio &radio)
{
    if (parser.isSet(QStringLiteral("vfoa"))
        && !radio.setVfoA(parser.value(QStringLiteral("vfoa")).toLongLong()))
        return badValue(parser, QStringLiteral("vfoa"));
    if (parser.isSet(QStringLiteral("vfob"))
        && !radio.setVfoB(parser.value(QStringLiteral("vfob")).toLongLong()))
        return badValue(parser, QStringLiteral("vfob"));
    if (parser.isSet(QStringLiteral("mode")) && !radio.setMode(parser.value(QStringLiteral("mode")).toInt()))
        return badValue(parser, QStringLiteral("mode"));

    const QString form = parser.value(QStringLiteral("power-form"));
    if (form != u"long" && form != u"short")
        return badValue(parser, QStringLiteral("power-form"));
    radio.setPowerForm(form == u"short" ? SimRadio::PowerForm::Short : SimRadio::PowerForm::Long);

    bool ok = false;
    const double tuneSeconds = parser.value(QStringLiteral("tune-seconds")).toDouble(&ok);
    if (!ok || tuneSeconds <= 0 || tuneSeconds > 600)
        return badValue(parser, QStringLiteral("tune-seconds"));
    radio.setTuneDuration(std::chrono::milliseconds(qRound64(tuneSeconds * 1000)));

    if (parser.isSet(QStringLiteral("seed"))) {
        const uint seed = parser.value(QStringLiteral("seed")).toUInt(&ok);
        if (!ok)
            return badValue(parser, QStringLiteral("seed"));
        radio.setSeed(seed);
    }

    static const QHash<QString, SimRadio::ProbeAnswer> probeAnswers = {
        {QStringLiteral("all"), SimRadio::ProbeAnswer::Always},
        {QStringLiteral("second"), SimRadio::ProbeAnswer::AfterFirst},
        {QStringLiteral("none"), SimRadio::ProbeAnswer::Never},
    };
    const auto probe = probeAnswers.constFind(parser.value(QStringLiteral("probe")));
    if (probe == probeAnswers.cend())
        return badValue(parser, QStringLiteral("probe"));
    radio.setProbeAnswer(*probe);

    radio.setSilent(parser.isSet(QStringLiteral("silent")));
    radio.setPaced(parser.isSet(QStringLiteral("paced")));
    return {};
}

int serveOnPty(SimRadio &radio, const QString &linkPath)
{
    PseudoTerminal terminal;
    if (!terminal.open() || !terminal.createLink(linkPath)) {
        printError(terminal.errorString());
        return 1;
    }
    QObject::connect(&terminal, &PseudoTerminal::received, &radio, &SimRadio::receive);
    QObject::connect(&radio, &SimRadio::output, &terminal, &PseudoTerminal::write);
    QObject::connect(&terminal, &PseudoTerminal::errorOccurred, [](const QString &message) {
        printError(message);
        QCoreApplication::exit(1);
    });
    printInfo(QStringLiteral("serving %1 on %2").arg(terminal.linkPath(), terminal.slavePath()));
    return QCoreApplication::exec();
}

int serveOnNetwork(SimRadio &radio, const QCommandLineParser &parser)
{
    // Made before the server, so that it outlasts the stream that hears it.
    SimReceiver receiver(radio);
    SimulatedLine line(radio);
    RelayServer server(line);
    QObject::connect(&server, &RelayServer::message, &printError);
    std::unique_ptr<AudioStream> audio;
    if (parser.isSet(QStringLiteral("audio")))
        audio = std::make_unique<AudioStream>(
            [&receiver](std::span<qint16> samples) { receiver.fill(samples); });
    QString where;
    applyTransmitOptions(server, parser);
    if (!startServer(server, parser, &where, std::move(audio))) {
        printError(server.errorString());
        return 1;
    }
    printInfo(where);
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("q9sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(Q9_VERSION));

    QCommandLineParser parser;
    addOptions(parser);
    if (const int error = parseCommandLine(parser))
        return error;
    if (wantsFingerprint(parser))
        return printFingerprint(parser);
    for (const QString &network :
         {QStringLiteral("listen"), QStringLiteral("cat-listen"), QStringLiteral("cat-pty"),
          QStringLiteral("cat-pty-group"), QStringLiteral("allow"), QStringLiteral("max-clients"),
          QStringLiteral("max-audio-clients"), QStringLiteral("audio"), QStringLiteral("audio-listen"),
          QStringLiteral("state"), QStringLiteral("operators")}) {
        if (parser.isSet(QStringLiteral("pty")) && parser.isSet(network))
            return usageError(QStringLiteral("--pty and --%1 exclude each other").arg(network));
    }

    for (const QString &option : {QStringLiteral("audio-listen"), QStringLiteral("audio-sink")}) {
        if (parser.isSet(option) && !parser.isSet(QStringLiteral("audio")))
            return usageError(QStringLiteral("--%1 needs --audio").arg(option));
    }

    SimRadio radio;
    const QString problem = configureRadio(parser, radio);
    if (!problem.isEmpty())
        return usageError(problem);
    const QString serverProblem = serverOptionsProblem(parser);
    if (!parser.isSet(QStringLiteral("pty")) && !serverProblem.isEmpty())
        return usageError(serverProblem);

    SignalWatcher signalWatcher({SIGINT, SIGTERM});
    QObject::connect(&signalWatcher, &SignalWatcher::caught, &app, &QCoreApplication::quit);

    if (parser.isSet(QStringLiteral("pty")))
        return serveOnPty(radio, parser.value(QStringLiteral("pty")));
    return serveOnNetwork(radio, parser);
}
