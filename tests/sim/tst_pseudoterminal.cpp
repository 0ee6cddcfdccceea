#include "pseudo_terminal.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

QByteArray everyByteValue()
{
    QByteArray bytes;
    for (int value = 0; value < 256; ++value)
        bytes.append(char(value));
    return bytes;
}

int openLine(const QString &path)
{
    return ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

// Reads from the far end of the line until `count` bytes came or time ran out.
QByteArray readLine(int fd, qsizetype count)
{
    QByteArray bytes;
    const QDeadlineTimer deadline(10000);
    while (bytes.size() < count && !deadline.hasExpired()) {
        pollfd readable = {fd, POLLIN, 0};
        if (::poll(&readable, 1, 50) <= 0)
            continue;
        char chunk[512];
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got > 0)
            bytes.append(chunk, got);
    }
    return bytes;
}

// What the pseudo-terminal received from the far end, collected as it comes.
struct Collector
{
    explicit Collector(PseudoTerminal &terminal)
    {
        QObject::connect(&terminal, &PseudoTerminal::readyRead, &terminal,
                         [this, &terminal] { bytes += terminal.readAll(); });
    }

    QByteArray bytes;
};

} // namespace

class TestPseudoTerminal : public QObject
{
    Q_OBJECT

private slots:
    void carriesEveryByteBothWays();
    void outlivesTheFarEndClosing();
    void link();
};

void TestPseudoTerminal::carriesEveryByteBothWays()
{
    PseudoTerminal terminal;
    QVERIFY2(terminal.open(), qPrintable(terminal.errorString()));
    QVERIFY(terminal.isOpen());
    QVERIFY(terminal.masterFd() >= 0);
    QVERIFY(terminal.slavePath().startsWith(QLatin1String("/dev/pts/")));
    Collector fromLine(terminal);

    const int line = openLine(terminal.slavePath());
    QVERIFY(line >= 0);
    const QByteArray all = everyByteValue();
    terminal.write(all + all);
    QCOMPARE(readLine(line, 2 * all.size()), all + all);

    QCOMPARE(::write(line, all.constData(), size_t(all.size())), ssize_t(all.size()));
    QTRY_COMPARE_WITH_TIMEOUT(fromLine.bytes, all, 10000);
    ::close(line);

    terminal.close();
    QVERIFY(!terminal.isOpen());
    QCOMPARE(terminal.masterFd(), -1);
}

void TestPseudoTerminal::outlivesTheFarEndClosing()
{
    PseudoTerminal terminal;
    QVERIFY2(terminal.open(), qPrintable(terminal.errorString()));
    QSignalSpy errors(&terminal, &PseudoTerminal::errorOccurred);
    Collector fromLine(terminal);

    for (const QByteArray &command : {QByteArray("FA;"), QByteArray("IF;")}) {
        const int line = openLine(terminal.slavePath());
        QVERIFY(line >= 0);
        QCOMPARE(::write(line, command.constData(), size_t(command.size())), ssize_t(command.size()));
        QTRY_VERIFY_WITH_TIMEOUT(fromLine.bytes.endsWith(command), 10000);
        terminal.write("ok;");
        QCOMPARE(readLine(line, 3), QByteArray("ok;"));
        ::close(line);
        // Give a hang-up, were there one, the chance to reach the event loop.
        QTest::qWait(100);
    }
    QCOMPARE(fromLine.bytes, QByteArray("FA;IF;"));
    QCOMPARE(errors.count(), 0);
}

void TestPseudoTerminal::link()
{
    QTemporaryDir dir;
    const QString linkPath = dir.filePath(QStringLiteral("com1"));
    PseudoTerminal terminal;
    QVERIFY(!terminal.createLink(linkPath));
    QVERIFY2(terminal.open(), qPrintable(terminal.errorString()));

    QFile plainFile(linkPath);
    QVERIFY(plainFile.open(QIODevice::WriteOnly));
    plainFile.close();
    QVERIFY(!terminal.createLink(linkPath));
    QVERIFY(!QFileInfo(linkPath).isSymLink());
    QVERIFY(plainFile.remove());

    QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone")), linkPath));
    QVERIFY2(terminal.createLink(linkPath), qPrintable(terminal.errorString()));
    QCOMPARE(QFile::symLinkTarget(linkPath), terminal.slavePath());
    QCOMPARE(terminal.linkPath(), linkPath);
    const int line = openLine(linkPath);
    QVERIFY(line >= 0);
    terminal.write("via link;");
    QCOMPARE(readLine(line, 9), QByteArray("via link;"));
    ::close(line);

    terminal.close();
    QVERIFY(!QFileInfo(linkPath).isSymLink());

    QVERIFY(terminal.open());
    QVERIFY(terminal.createLink(linkPath));
    QVERIFY(QFile::remove(linkPath));
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), linkPath));
    terminal.close();
    QCOMPARE(QFile::symLinkTarget(linkPath), QStringLiteral("/dev/null"));
}

QTEST_GUILESS_MAIN(TestPseudoTerminal)
#include "tst_pseudoterminal.moc"
