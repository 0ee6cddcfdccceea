#include "app/dialogs.h"
#include "app/rmt_q9.h"
#include "app/stop_signals.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

const char Help[] = "Usage: q9remote [Qt options, such as -platform NAME or -style NAME]\n"
                    "Remote front panel for the Q9 HF transceiver.\n"
                    "\n"
                    "It takes no options of its own: its settings are in d9iduzid.ini in the\n"
                    "working directory, read at start and written at exit.\n"
                    "\n"
                    "  --help     Show this help and exit.\n"
                    "  --version  Show the version and exit.\n";

// What --help or --version asks to be shown, or nothing. Answered before the
// application is built, so that neither needs a display.
const char *answerWanted(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0)
            return "q9remote " Q9_VERSION "\n";
        if (std::strcmp(argv[i], "--help") == 0)
            return Help;
    }
    return nullptr;
}

} // namespace

int main(int argc, char *argv[])
{
    if (const char *answer = answerWanted(argc, argv)) {
        std::fputs(answer, stdout);
        return 0;
    }
    QApplication app(argc, argv);
    QtDialogs dialogs;
    StopSignals stopSignals(dialogs);
    Rmt_Q9 window(dialogs);
    stopSignals.watch(window);
    if (stopSignals.caught())
        return 0;
    window.show();
    return app.exec();
}
