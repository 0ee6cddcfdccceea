// What the panel costs the shack computer while it runs for hours: the
// window (offscreen, shown) on a pseudo-terminal to the simulated radio in a
// separate process, the S-meter polled every 100 ms and the debug console
// echoing every reply, for 20 seconds. Prints the CPU share of one core
// over those seconds, the peak resident memory, and how long the window
// takes from being built to its first show.

#include "app/rmt_q9.h"
#include "bench_support.h"
#include "link/event_wait.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QTimer>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    BenchWorkingDir workingDir;
    QProcess radio;
    if (!startSimulatedRadio(radio, workingDir.path() + QStringLiteral("/com1"))) {
        std::fprintf(stderr, "bench_footprint: the simulated radio did not start\n");
        return 1;
    }

    BenchDialogs dialogs;
    QElapsedTimer startUp;
    startUp.start();
    Rmt_Q9 panel(dialogs);
    panel.show();
    QCoreApplication::processEvents();
    const double firstShowSeconds = secondsSince(startUp);

    panel.findChild<QAction *>(QStringLiteral("debug_on"))->trigger();
    panel.findChild<QAction *>(QStringLiteral("Setcomm1"))->trigger();
    if (!panel.globals().RadioPresent) {
        std::fprintf(stderr, "bench_footprint: the simulated radio did not answer\n");
        return 1;
    }
    panel.findChild<QPushButton *>(QStringLiteral("SM_en"))->click();
    auto *poll = panel.findChild<QTimer *>(QStringLiteral("Timer1"));
    // Let the start-up query's replies settle before measuring.
    waitFor(1.0);

    const double pollSeconds = 20.0;
    const double cpuBefore = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    waitFor(pollSeconds);
    const double cpuShare = (processCpuSeconds() - cpuBefore) / secondsSince(wall);

    std::printf("poll_interval_ms %d\n", poll->interval());
    std::printf("poll_running %s\n", poll->isActive() ? "yes" : "no");
    std::printf("window_first_show_ms %.1f\n", firstShowSeconds * 1000);
    std::printf("peak_rss_mib %.1f\n", peakResidentMiB());
    std::printf("idle_poll_cpu_share %.4f\n", cpuShare);
    radio.terminate();
    radio.waitForFinished(5000);
    return poll->isActive() && dialogs.messages == 0 ? 0 : 1;
}
