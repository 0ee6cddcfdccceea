#ifndef CONSOLE_H
#define CONSOLE_H

#include <QCoreApplication>
#include <QString>

#include <cstdio>

// One line on stdout or stderr, prefixed with the program's name and
// flushed at once, so a parent process reading a pipe sees it straight away.
inline void printLine(std::FILE *stream, const QString &text)
{
    const QString line = QCoreApplication::applicationName() + QLatin1String(": ") + text + QLatin1Char('\n');
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

#endif
