#pragma once

#include "app/dialogs.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

// A panel for a benchmark: its own working directory, boxes that only
// count, and a clock.
class BenchDialogs : public Dialogs
{
public:
    void message(QWidget *, const QString &, Icon) override { ++messages; }
    void notice(QWidget *, const QString &, Icon) override { ++messages; }
    bool question(QWidget *, const QString &) override
    {
        ++messages;
        return false;
    }
    QString input(QWidget *, const QString &, const QString &, const QString &) override
    {
        return inputAnswer;
    }
    int messages = 0;
    QString inputAnswer;
};

class BenchWorkingDir
{
public:
    BenchWorkingDir() { QDir::setCurrent(m_dir.path()); }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

inline double secondsSince(const QElapsedTimer &timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

#include <QCoreApplication>
#include <QProcess>

#include <sys/resource.h>

// CPU time this process has used so far, user and system, in seconds.
inline double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval &t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The largest resident set this process has had, in mebibytes.
inline double peakResidentMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Starts the simulated radio as a separate process on a pseudo-terminal
// linked as `link`, and waits until the link is there.
inline bool startSimulatedRadio(QProcess &radio, const QString &link, const QStringList &options = {})
{
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/q9sim");
    radio.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    radio.start(program, QStringList{QStringLiteral("--pty"), link} + options);
    if (!radio.waitForStarted(10000))
        return false;
    for (int i = 0; i < 100 && !QFileInfo(link).isSymLink(); ++i)
        radio.waitForReadyRead(100);
    return QFileInfo(link).isSymLink();
}
