// How fast replies go from the link into the panel: a long mixed stream of
// every reply the radio sends, pushed through ReceiveText into the real
// window (offscreen). Then the debug window's cost per chunk, which must not
// grow with what it has already shown.

#include "app/rmt_q9.h"
#include "bench_support.h"

#include <QAction>
#include <QApplication>
#include <QStringList>

namespace {

QString mixedStream(int rounds)
{
    const QStringList replies = {QStringLiteral("FA00014060000;"),
                                 QStringLiteral("FB00007040500;"),
                                 QStringLiteral("FR0;"),
                                 QStringLiteral("FT1;"),
                                 QStringLiteral("FW250010;"),
                                 QStringLiteral("GT0021;"),
                                 QStringLiteral("Q91;"),
                                 QStringLiteral("KS020;"),
                                 QStringLiteral("MD3;"),
                                 QStringLiteral("NB10;"),
                                 QStringLiteral("SQ050;"),
                                 QStringLiteral("PA1;"),
                                 QStringLiteral("PC0501;"),
                                 QStringLiteral("RA01;"),
                                 QStringLiteral("AN2;"),
                                 QStringLiteral("IF00014060000     +012010 0002000001 ;"),
                                 QStringLiteral("IF00007040500     -005001 0013100001 ;"),
                                 QStringLiteral("!!relay;")};
    QString stream;
    for (int round = 0; round < rounds; ++round) {
        stream += replies.at(round % replies.size());
        // The S-meter poll makes most of the traffic.
        stream += QStringLiteral("SM%1;").arg(round % 21, 4, 10, QChar(u'0'));
    }
    return stream;
}

double pushChunks(Rmt_Q9 &panel, const QString &stream, qsizetype chunkSize)
{
    QElapsedTimer timer;
    timer.start();
    for (qsizetype at = 0; at < stream.size(); at += chunkSize)
        panel.ReceiveText(stream.mid(at, chunkSize));
    return secondsSince(timer);
}

double pushSMeterChunks(Rmt_Q9 &panel, int count)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i)
        panel.ReceiveText(QStringLiteral("SM%1;").arg(i % 21, 4, 10, QChar(u'0')));
    return secondsSince(timer);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    BenchWorkingDir workingDir;
    BenchDialogs dialogs;
    Rmt_Q9 panel(dialogs);

    const int rounds = 200000;
    const QString stream = mixedStream(rounds);
    const double seconds = pushChunks(panel, stream, 64);
    const double repliesPerSecond = 2.0 * rounds / seconds;

    panel.findChild<QAction *>(QStringLiteral("debug_on"))->trigger();
    const double tenThousand = pushSMeterChunks(panel, 10000);
    const double residentBefore = peakResidentMiB();
    const double hundredThousand = pushSMeterChunks(panel, 100000);
    // The window keeps a bounded number of lines; its memory must stay flat.
    const double residentGrowth = peakResidentMiB() - residentBefore;

    std::printf("mixed_stream_replies %d\n", 2 * rounds);
    std::printf("mixed_stream_seconds %.3f\n", seconds);
    std::printf("debug_on_10000_chunks_s %.3f\n", tenThousand);
    std::printf("debug_on_100000_chunks_s %.3f\n", hundredThousand);
    std::printf("debug_on_growth_ratio %.2f\n", hundredThousand / tenThousand);
    std::printf("debug_on_100000_chunks_rss_growth_mib %.1f\n", residentGrowth);
    std::printf("replies_per_s %.0f\n", repliesPerSecond);
    return dialogs.messages == 0 ? 0 : 1;
}
