#include "console.h"
#include "pseudoterminal.h"
#include "relayserver.h"
#include "signalwatcher.h"
#include "simradio.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHash>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

const QString DefaultListen = u"127.0.0.1:2300"_s;

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
            u"Simulated Q9 transceiver for running and testing the remote panel without a radio.\n"
            "It serves either a pseudo-terminal (--pty) or, by default, a relay server (--listen).\n\n"_s
            + RelayServer::behaviour());
    parser.addHelpOption();
    parser.addOptions({
        {u"pty"_s, u"Serve a pseudo-terminal and make PATH a symlink to it (removed on exit)."_s, u"PATH"_s},
        {u"listen"_s, u"Serve through the relay server on ADDRESS:PORT (port 0 picks a free one). Default: %1."_s
                              .arg(DefaultListen), u"ADDRESS:PORT"_s, DefaultListen},
        {u"vfoa"_s, u"Start with VFO A on HZ."_s, u"HZ"_s},
        {u"vfob"_s, u"Start with VFO B on HZ."_s, u"HZ"_s},
        {u"mode"_s, u"Start in mode DIGIT: 1 LSB, 2 USB, 3 CW, 6 DATA, 7 CW-R, 9 DATA-R."_s, u"DIGIT"_s},
        {u"power-form"_s, u"Power reply form: long (tenths of a watt, \"PC1050;\") or short (watts, \"PC010;\")."_s,
         u"FORM"_s, u"long"_s},
        {u"tune-seconds"_s, u"Length of a tune carrier; CW keying time scales with it. Default: 3."_s,
         u"S"_s, u"3"_s},
        {u"seed"_s, u"Seed for the S-meter readings, for repeatable runs."_s, u"N"_s},
        {u"probe"_s, u"Answer \"q9;\" probes: all, second (ignore the first, answer later ones) or none."_s,
         u"WHICH"_s, u"all"_s},
        {u"silent"_s, u"Take commands but never send anything."_s},
        {u"paced"_s, u"Pace output at 4800 baud, as a real serial line does."_s},
    });
}

QString badValue(const QCommandLineParser &parser, const QString &name)
{
    return u"bad value for --%1: \"%2\""_s.arg(name, parser.value(name));
}

// Returns what is wrong with the options, or an empty string.
QString configureRadio(const QCommandLineParser &parser, SimRadio &radio)
{
    if (parser.isSet(u"vfoa"_s) && !radio.setVfoA(parser.value(u"vfoa"_s).toLongLong()))
        return badValue(parser, u"vfoa"_s);
    if (parser.isSet(u"vfob"_s) && !radio.setVfoB(parser.value(u"vfob"_s).toLongLong()))
        return badValue(parser, u"vfob"_s);
    if (parser.isSet(u"mode"_s) && !radio.setMode(parser.value(u"mode"_s).toInt()))
        return badValue(parser, u"mode"_s);

    const QString form = parser.value(u"power-form"_s);
    if (form != "long"_L1 && form != "short"_L1)
        return badValue(parser, u"power-form"_s);
    radio.setPowerForm(form == "short"_L1 ? SimRadio::PowerForm::Short : SimRadio::PowerForm::Long);

    bool ok = false;
    const double tuneSeconds = parser.value(u"tune-seconds"_s).toDouble(&ok);
    if (!ok || tuneSeconds <= 0 || tuneSeconds > 600)
        return badValue(parser, u"tune-seconds"_s);
    radio.setTuneDuration(std::chrono::milliseconds(qRound64(tuneSeconds * 1000)));

    if (parser.isSet(u"seed"_s)) {
        const uint seed = parser.value(u"seed"_s).toUInt(&ok);
        if (!ok)
            return badValue(parser, u"seed"_s);
        radio.setSeed(seed);
    }

    static const QHash<QString, SimRadio::ProbeAnswer> probeAnswers = {
        {u"all"_s, SimRadio::ProbeAnswer::Always},
        {u"second"_s, SimRadio::ProbeAnswer::AfterFirst},
        {u"none"_s, SimRadio::ProbeAnswer::Never},
    };
    const auto probe = probeAnswers.constFind(parser.value(u"probe"_s));
    if (probe == probeAnswers.cend())
        return badValue(parser, u"probe"_s);
    radio.setProbeAnswer(*probe);

    radio.setSilent(parser.isSet(u"silent"_s));
    radio.setPaced(parser.isSet(u"paced"_s));
    return {};
}


int serveOnPty(SimRadio &radio, const QString &linkPath)
{
    PseudoTerminal terminal;
    if (!terminal.open() || !terminal.createLink(linkPath)) {
        printError(terminal.errorString());
        return 1;
    }
    QObject::connect(&terminal, &PseudoTerminal::readyRead, &radio,
                     [&] { radio.receive(terminal.readAll()); });
    QObject::connect(&radio, &SimRadio::output, &terminal, &PseudoTerminal::write);
    QObject::connect(&terminal, &PseudoTerminal::errorOccurred, [](const QString &message) {
        printError(message);
        QCoreApplication::exit(1);
    });
    printInfo(u"serving %1 on %2"_s.arg(terminal.linkPath(), terminal.slavePath()));
    return QCoreApplication::exec();
}

int serveOnNetwork(SimRadio &radio, const QString &endpoint)
{
    RelayServer server;
    if (!server.listen(endpoint)) {
        printError(server.errorString());
        return 1;
    }
    QObject::connect(&server, &RelayServer::clientData, &radio, &SimRadio::receive);
    QObject::connect(&radio, &SimRadio::output, &server, &RelayServer::sendToClient);
    QObject::connect(&server, &RelayServer::message, &printError);
    printInfo(u"listening on %1"_s.arg(server.endpoint()));
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"q9sim"_s);

    QCommandLineParser parser;
    addOptions(parser);
    if (const int error = parseCommandLine(parser))
        return error;
    if (parser.isSet(u"pty"_s) && parser.isSet(u"listen"_s))
        return usageError(u"--pty and --listen exclude each other"_s);

    SimRadio radio;
    const QString problem = configureRadio(parser, radio);
    if (!problem.isEmpty())
        return usageError(problem);

    SignalWatcher signalWatcher({SIGINT, SIGTERM});
    QObject::connect(&signalWatcher, &SignalWatcher::caught, &app, &QCoreApplication::quit);

    if (parser.isSet(u"pty"_s))
        return serveOnPty(radio, parser.value(u"pty"_s));
    return serveOnNetwork(radio, parser.value(u"listen"_s));
}
