// An operator's panel in a process of its own, for tests that stop, kill or
// cut off the operator's computer: the window, with the operator's steps
// (as Station::perform takes them) run at start. Says "done" on standard
// output once they are, and goes on until it is ended.

#include "station.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: panel_process STEPS\n", stderr);
        return 2;
    }
    Station station;
    station.dialogs.echo = true;
    station.start();
    if (const QString failed = station.perform(QString::fromLocal8Bit(argv[1])); !failed.isEmpty()) {
        std::fprintf(stderr, "panel_process: %s\n", qPrintable(failed));
        return 1;
    }
    std::puts("done");
    std::fflush(stdout);
    return app.exec();
}
