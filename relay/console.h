#pragma once

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QString>

#include <cstdio>

// One line on stdout or stderr, prefixed with the program's name and
// flushed at once, so a parent process reading a pipe sees it straight away.
inline void printLine(std::FILE *stream, const QString &text)
{
    const QString line = QCoreApplication::applicationName() + QStringLiteral(": ") + text + u'\n';
    std::fputs(line.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

inline void printInfo(const QString &text)
{
    printLine(stdout, text);
}

inline void printError(const QString &text)
{
    printLine(stderr, text);
}

// A bad command line: the complaint, a hint, and the exit code to return.
inline int usageError(const QString &text)
{
    printError(text);
    printError(QStringLiteral("try --help"));
    return 1;
}

// --help and --version, which parseCommandLine() answers.
inline void addHelpAndVersion(QCommandLineParser &parser)
{
    parser.addHelpOption();
    parser.addVersionOption();
}

// Parses the arguments, shows the help or the version when asked (and
// exits), and refuses positional arguments. Returns 0, or the exit code of a
// usage error.
inline int parseCommandLine(QCommandLineParser &parser)
{
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp();
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
    return 0;
}
