#pragma once

#include "app/dialogs.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

// A panel for a benchmark: its own working directory, boxes that only
// count, and a clock.
class BenchDialogs : public Dialogs
{
public:
    void message(QWidget *, const QString &, Icon) override { ++messages; }
    QString input(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
    int messages = 0;
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
