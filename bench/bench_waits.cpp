// What the panel's waits cost while nothing answers: a serial connect to a
// simulated radio that stays silent (three reply waits, about 1.5 s) and a
// server connect to a relay that accepts but never greets (a 5 s wait). The
// waits must sleep in the event loop: the figure is the CPU time used during
// each as a share of its wall time. Then TUNE against a radio that
// transmits for four seconds, whose handler waits between status polls.
// Last, the panel stopped (as by a signal) half a second into another wait
// for the relay: the wait ends at once, well before its 5 s.

#include "app/rmt_q9.h"
#include "bench_support.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QTcpServer>
#include <QTimer>

#include <algorithm>

namespace {

double cpuShareOf(const std::function<void()> &work, double *wallSeconds)
{
    const double cpuBefore = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    work();
    *wallSeconds = secondsSince(wall);
    return (processCpuSeconds() - cpuBefore) / *wallSeconds;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    BenchWorkingDir workingDir;
    QProcess radio;
    if (!startSimulatedRadio(radio, workingDir.path() + QStringLiteral("/com1"),
                             {QStringLiteral("--silent")})) {
        std::fprintf(stderr, "bench_waits: the simulated radio did not start\n");
        return 1;
    }
    QProcess tuningRadio;
    if (!startSimulatedRadio(tuningRadio, workingDir.path() + QStringLiteral("/com2"),
                             {QStringLiteral("--tune-seconds"), QStringLiteral("4")})) {
        std::fprintf(stderr, "bench_waits: the second simulated radio did not start\n");
        return 1;
    }
    QTcpServer mute;
    if (!mute.listen(QHostAddress(QStringLiteral("127.0.0.61")), 2300)) {
        std::fprintf(stderr, "bench_waits: cannot listen on 127.0.0.61:2300\n");
        return 1;
    }

    BenchDialogs dialogs;
    dialogs.inputAnswer = QStringLiteral("127.0.0.61");
    Rmt_Q9 panel(dialogs);

    double serialWall = 0;
    const double serialShare
        = cpuShareOf([&] { panel.findChild<QAction *>(QStringLiteral("Setcomm1"))->trigger(); }, &serialWall);
    double serverWall = 0;
    const double serverShare = cpuShareOf(
        [&] { panel.findChild<QAction *>(QStringLiteral("Set_Host_Addr"))->trigger(); }, &serverWall);

    panel.findChild<QAction *>(QStringLiteral("Setcomm2"))->trigger();
    double tuneWall = 0;
    const double tuneShare
        = cpuShareOf([&] { panel.findChild<QPushButton *>(QStringLiteral("Tune"))->click(); }, &tuneWall);

    double stopWall = 0;
    cpuShareOf(
        [&] {
            QTimer::singleShot(500, &panel, &Rmt_Q9::stop);
            panel.findChild<QAction *>(QStringLiteral("Set_Host_Addr"))->trigger();
        },
        &stopWall);

    std::printf("serial_connect_wait_s %.2f\n", serialWall);
    std::printf("serial_connect_cpu_share %.4f\n", serialShare);
    std::printf("server_connect_wait_s %.2f\n", serverWall);
    std::printf("server_connect_cpu_share %.4f\n", serverShare);
    std::printf("tune_s %.2f\n", tuneWall);
    std::printf("tune_cpu_share %.4f\n", tuneShare);
    std::printf("wait_cpu_share %.4f\n", std::max({serialShare, serverShare, tuneShare}));
    std::printf("stopped_wait_s %.2f\n", stopWall);
    for (QProcess *process : {&radio, &tuningRadio}) {
        process->terminate();
        process->waitForFinished(5000);
    }
    // The three connects end in their failure box: nothing ever answered.
    return dialogs.messages == 3 ? 0 : 1;
}
