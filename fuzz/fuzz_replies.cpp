// Feeds arbitrary bytes, cut into arbitrary chunks, through the panel's
// receive path: framing, the reply interpreter, the status record and the
// debug window. The first byte picks the chunk size (its low six bits) and
// whether the debug window echoes (both high bits set).

#include "app/dialogs.h"
#include "app/rmt_q9.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

// Replies never open a box; one that did would be a finding.
class NoDialogs : public Dialogs
{
public:
    void message(QWidget *, const QString &, Icon) override { __builtin_trap(); }
    void notice(QWidget *, const QString &, Icon) override { __builtin_trap(); }
    bool question(QWidget *, const QString &) override { __builtin_trap(); }
    QString input(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
};

struct Harness
{
    // The panel reads and writes its settings file in the working directory
    // at start; libFuzzer needs the caller's directory for its corpus.
    Harness()
    {
        const QString callersDir = QDir::currentPath();
        QDir::setCurrent(workingDir.path());
        panel = std::make_unique<Rmt_Q9>(dialogs);
        QDir::setCurrent(callersDir);
    }

    int argc = 1;
    char name[16] = "fuzz_replies";
    char *argv[2] = {name, nullptr};
    QApplication app{argc, argv};
    QTemporaryDir workingDir;
    NoDialogs dialogs;
    std::unique_ptr<Rmt_Q9> panel;
};

Harness &harness()
{
    static Harness instance;
    return instance;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    harness();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    Rmt_Q9 &panel = *harness().panel;
    auto *debug = panel.findChild<QAction *>(QStringLiteral("debug_on"));
    if (debug->isChecked() != ((data[0] & 0xc0) == 0xc0))
        debug->trigger();
    const size_t chunk = (data[0] & 0x3f) + 1;
    for (size_t at = 1; at < size; at += chunk) {
        const size_t length = std::min(chunk, size - at);
        panel.ReceiveText(
            QString::fromLatin1(reinterpret_cast<const char *>(data + at), static_cast<qsizetype>(length)));
    }
    return 0;
}
