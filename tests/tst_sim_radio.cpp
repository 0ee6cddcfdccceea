#include "programs.h"

#include "pseudo_terminal.h"
#include "sim_radio.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSet>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace std::chrono_literals;

// The simulated radio that stands in for a Q9, the pseudo-terminal it sits
// behind, and q9sim, the program that serves it.
class TestSimRadio : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void transmitsForAWhile();
    void optionsAndNoise();
    void signalMeter();
    void pseudoTerminalLink();
    void q9simServes();
    void q9simUsageErrors_data();
    void q9simUsageErrors();
};

namespace {

const QByteArray Queries = "FA;FB;FR;FT;FW;GT;MD;KS;SQ;PA;RA;AN;NB;PC;IF;AI;";
const QByteArray Idle = "IF00014060000     +000000 0002000001 ;";
const QByteArray Tuning = "IF00014060000     +000000 0012000001 ;";
const QByteArray StartState
    = "FA00014060000;FB00007030000;FR0;FT0;FW250010;GT0021;MD2;KS020;SQ000;PA0;RA00;AN1;NB00;"
      "PC1000;"
    + Idle + "AI0;";

// A radio with everything it says collected.
struct Radio
{
    Radio()
    {
        QObject::connect(&sim, &SimRadio::output, &sim, [this](const QByteArray &bytes) { said += bytes; });
    }
    QByteArray ask(const QByteArray &commands)
    {
        said.clear();
        sim.receive(commands);
        return std::exchange(said, {});
    }
    SimRadio sim;
    QByteArray said;
};

} // namespace

void TestSimRadio::answers_data()
{
    // clang-format off
    QTest::addColumn<QByteArray>("commands");
    QTest::addColumn<QByteArray>("answer");
    const auto row = [](const QByteArray &commands, const QByteArray &answer) {
        QTest::newRow(commands.left(60).toPercentEncoding(" ;").constData()) << commands << answer;
    };
    row(Queries, StartState);
    row("id;q92;q9;", "ID900;Q91;");
    row("FA7040500;FA;", "FA00007040500;");
    row("FA00021060000;FA;", "FA00021060000;");
    row("FB3560000;FR1;FT1;FB;FR;FT;", "FB00003560000;FR1;FT1;");
    row("FR1;IF;", "IF00007030000     +000000 0002100001 ;");
    row("FT0;FT;", "FT0;");
    row("GT004;SW36;GT;SW36;GT;", "GT0040;GT0041;");
    row("MD3;MD;FW;MD7;MD1;FW;", "MD3;FW050030;FW250010;");
    row("FW0100;MD9;FW;", "FW180020;");
    row("FW0100;FW0100;FW0100;FW;FW0100;FW;", "FW025040;FW250010;");
    row("SW29;FW;SW29;SW29;FW;", "FW250011;FW250010;");
    row("KS035;SQ250;PA1;RA01;AN2;KS;SQ;PA;RA;AN;", "KS035;SQ250;PA1;RA01;AN2;");
    row("SW04;AN;SW04;AN;", "AN2;AN1;");
    row("PC105;PC;", "PC1050;");
    row("NB1;NB;NB1;NB;NB1;NB;SW22;NB;", "NB10;NB20;NB00;NB01;");
    row("UP1;FA;DN3;FA;UP4;FA;", "FA00014060010;FA00014059960;FA00014060960;");
    row("FR1;UP4;FB;FA;", "FB00007031000;FA00014060000;");
    row("FA59999500;UP4;FA;FA30040;DN3;DN3;FA;", "FA00060000000;FA00000030000;");
    row("SW01;FA;SW03;SW03;FA;", "FA00018086000;FA00010116000;");
    row("FA50100000;SW01;FA;SW03;FA;", "FA00001836000;FA00050100000;");
    row("FA5000000;SW01;FA;FA5000000;SW03;FA;", "FA00007030000;FA00003560000;");
    row("FR1;SW01;FB;", "FB00010116000;");
    row("RU;RU;RT1;IF;", "IF00014060000     +002010 0002000001 ;");
    row("RD;RD;RD;XT1;IF;", "IF00014060000     -003001 0002000001 ;");
    row("RU;RC;RT1;RT0;IF;", Idle);
    row(QByteArray("RU;").repeated(1200) + "IF;", "IF00014060000     +999000 0002000001 ;");
    row(QByteArray("RD;").repeated(1200) + "IF;", "IF00014060000     -999000 0002000001 ;");
    row("FA14060000;FR0;MD2;" + QByteArray("RU;").repeated(12) + "RT1;IF;", "IF00014060000     +012010 0002000001 ;");
    row("FB7040500;FR1;MD3;" + QByteArray("RD;").repeated(5) + "XT1;SW20;IF;",
        "IF00007040500     -005001 0013100001 ;");
    row("AI2;AI;AI0;AI;", "AI2;AI0;");
    row("SW20;IF;SW20;IF;SW27;IF;", Tuning + Idle + Idle);
    row("KY CQ CQ\r\n;IF;KY @;IF;KY ;IF;", Tuning + Idle + Idle);
    row("fa7040000;md3;md;fa;", "MD3;FA00007040000;");
    // In its reporting mode the radio tells of every change, asked or not.
    row("RA01;UP1;MD3;SW20;SW20;AI2;RA01;MD3;GT002;", "");
    row("AI2;RA01;UP1;UP1;FR1;SW01;", "RA01;FA00014060010;FA00014060020;FR1;FB00010116000;");
    row("MD3;AI2;MD1;RT1;RU;XX;", "MD1;FW250010;IF00014060000     +000010 0001000001 ;IF00014060000     +001010 0001000001 ;?;");
    row("AI2;SW22;SW36;PC050;AI0;RA01;SW04;", "NB01;GT0020;PC0500;");
    row(" \r\nFR;\r\n\tFT;\r\n;;\r\n;", "FR0;FT0;");
    // Every band keeps the last frequency used on it.
    for (const QByteArray &hz :
         QByteArray("1900000 3700000 7100000 10120000 14070000 18100000 21100000 24900000 "
                    "28500000 50200000")
             .split(' '))
        row("FA" + hz + ";SW01;SW03;FA;", "FA" + hz.rightJustified(11, '0') + ';');
    // A command the radio cannot take is refused and changes nothing.
    const QByteArray refused
        = "XX;|F;|FA1;|FA123456789012;|FA1405x000;|FA-14060000;|FR2;|FT01;|FW0200;|FW1;|GT003;|"
          "GT02;|MD4;|MD22;|KS008;|KS051;|KS20;|SQ256;|PA2;|RA1;|RA02;|AN3;|NB2;|PC000;|PC151;|"
          "PC1050;|SM1;|IF1;|UP2;|DN;|SW99;|SW1;|RU1;|RT2;|XT;|KY;|KYCQ;|F A;|\x01\xff;|"
          "KY 1234567890123456789012345;|AI1;|ID1;|Q93;";
    for (const QByteArray &bad : refused.split('|')) row(bad + Queries, "?;" + StartState);
    // clang-format on
}

void TestSimRadio::answers()
{
    QFETCH(QByteArray, commands);
    QFETCH(QByteArray, answer);
    Radio radio;
    QCOMPARE(radio.ask(commands), answer);
}

void TestSimRadio::transmitsForAWhile()
{
    Radio radio;
    radio.sim.setTuneDuration(50ms);
    radio.ask("AI2;");
    QCOMPARE(radio.ask("SW20;"), Tuning);
    QTRY_COMPARE_WITH_TIMEOUT(radio.said, Idle, 10000);
    QCOMPARE(radio.ask("KY CQ CQ DE Q9SIM\r\n;"), Tuning);
    QTRY_COMPARE_WITH_TIMEOUT(radio.said, Idle, 10000);
    QCOMPARE(radio.ask("KY @;"), QByteArray());
}

// The options q9sim offers, and line noise that never ends a command.
void TestSimRadio::optionsAndNoise()
{
    Radio silent;
    silent.sim.setSilent(true);
    QCOMPARE(silent.ask("id;q92;q9;FA;XX;MD3;"), QByteArray());
    silent.sim.setSilent(false);
    QCOMPARE(silent.ask("MD;"), QByteArray("MD3;"));

    Radio late;
    late.sim.setProbeAnswer(SimRadio::ProbeAnswer::AfterFirst);
    late.sim.setPowerForm(SimRadio::PowerForm::Short);
    QCOMPARE(late.ask("q92;q9;q9;Q9;PC;PC015;PC;PC016;"), QByteArray("Q91;Q91;PC010;PC015;?;"));
    late.sim.setProbeAnswer(SimRadio::ProbeAnswer::Never);
    QCOMPARE(late.ask("q9;"), QByteArray());

    late.ask(QByteArray(SimRadio::MaxPendingInput + 1, 'x'));
    QCOMPARE(late.ask("AN;"), QByteArray("AN1;"));
    late.ask(QByteArray(SimRadio::MaxPendingInput - 2, 'x'));
    QCOMPARE(late.ask("AN;"), QByteArray("?;"));
}

// Readings repeat for a seed, and a station comes up out of the noise.
void TestSimRadio::signalMeter()
{
    const auto readings = [](quint32 seed) {
        Radio radio;
        radio.sim.setSeed(seed);
        return QString::fromLatin1(radio.ask(QByteArray("SM;").repeated(300)));
    };
    QCOMPARE(readings(7), readings(7));
    QVERIFY(readings(8) != readings(7));
    QVERIFY(
        QRegularExpression(QStringLiteral("^(SM00(0[1-9]|1\\d|20);){300}$")).match(readings(7)).hasMatch());
    QVERIFY(readings(7).contains(QRegularExpression(QStringLiteral("SM00(1[6-9]|20)"))));
}

// The link is put in place of a stale one but never of another file, and
// removed at the end unless someone has re-pointed it.
void TestSimRadio::pseudoTerminalLink()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("com1"));
    PseudoTerminal terminal;
    QVERIFY(!terminal.createLink(link));
    QVERIFY(terminal.open());
    QFile plain(link);
    QVERIFY(plain.open(QIODevice::WriteOnly));
    QVERIFY(!terminal.createLink(link));
    QVERIFY(terminal.errorString().endsWith(u"exists and is not a symlink; not replacing it"));
    QVERIFY(plain.remove());
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone")), link));
    QVERIFY(terminal.createLink(link));
    QCOMPARE(QFile::symLinkTarget(link), terminal.slavePath());
    terminal.close();
    QVERIFY(!QFileInfo(link).isSymLink());

    QVERIFY(terminal.open() && terminal.createLink(link));
    QVERIFY(QFile::remove(link) && QFile::link(QStringLiteral("/dev/null"), link));
    terminal.close();
    QCOMPARE(QFile::symLinkTarget(link), QStringLiteral("/dev/null"));
}

// On a pseudo-terminal linked where asked, at the pace of a serial line,
// until a signal ends it and removes the link; and behind the relay server.
void TestSimRadio::q9simServes()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("com1"));
    QProcess sim;
    sim.start(QStringLiteral(Q9SIM_PATH), {"--pty", link, "--vfoa", "7040000", "--paced"});
    QVERIFY(QTest::qWaitFor([&] { return QFileInfo(link).isSymLink(); }, ProcessTimeout));
    QSerialPort line(link);
    QVERIFY2(line.open(QIODevice::ReadWrite), qPrintable(line.errorString()));
    QByteArray replies;
    connect(&line, &QSerialPort::readyRead, this, [&] { replies += line.readAll(); });
    line.write("fa;MD;");
    QTRY_COMPARE_WITH_TIMEOUT(replies, QByteArray("FA00007040000;MD2;"), ProcessTimeout);
    line.close();
    QVERIFY(stopWith(sim, SIGTERM));
    QVERIFY(!QFileInfo(link).isSymLink());

    QProcess relayed;
    const quint16 port = startListening(relayed, QStringLiteral(Q9SIM_PATH), {"--listen", "127.0.0.1:0"});
    QVERIFY(port);
    TestClient client(port);
    QTRY_COMPARE_WITH_TIMEOUT(client.received, QByteArray("!!Q9 relay ready;"), ProcessTimeout);
    client.socket.write("FA;");
    QTRY_VERIFY_WITH_TIMEOUT(client.received.endsWith("FA00014060000;"), ProcessTimeout);
    // A command one client left unfinished is not the start of the next one's.
    client.socket.write("FB");
    client.socket.disconnectFromHost();
    TestClient next(port);
    next.socket.write("FA;");
    QTRY_COMPARE_WITH_TIMEOUT(next.received, QByteArray("!!Q9 relay ready;FA00014060000;"), ProcessTimeout);
    QVERIFY(stopWith(relayed, SIGINT));
}

void TestSimRadio::q9simUsageErrors_data()
{
    // clang-format off
    QTest::addColumn<QString>("complaint");
    const auto row = [](const char *arguments, const char *complaint) {
        QTest::newRow(arguments) << QString::fromLatin1(complaint);
    };
    row("--bogus", "Unknown option 'bogus'.");
    row("radio", "unexpected argument \"radio\"");
    row("--pty", "Missing value after '--pty'.");
    row("--mode 5", "bad value for --mode: \"5\"");
    row("--vfoa 14MHz", "bad value for --vfoa: \"14MHz\"");
    row("--vfob 99000000", "bad value for --vfob: \"99000000\"");
    row("--power-form medium", "bad value for --power-form");
    row("--tune-seconds 0", "bad value for --tune-seconds");
    row("--seed -1", "bad value for --seed");
    row("--probe maybe", "bad value for --probe");
    row("--pty com1 --listen 127.0.0.1:0", "--pty and --listen exclude each other");
    row("--listen 127.0.0.1", "bad listen address \"127.0.0.1\"");
    row("--listen nowhere:2300", "bad listen address");
    row("--listen 127.0.0.1:65536", "bad listen address");
    row("--allow 10.0.0.0/8,", "bad --allow list \"10.0.0.0/8,\"");
    row("--pty com1 --allow any", "--pty and --allow exclude each other");
    row("--pty /nonexistent/q9/com1", "cannot create /nonexistent/q9/com1: No such file or directory");
    // clang-format on
}

void TestSimRadio::q9simUsageErrors()
{
    QFETCH(QString, complaint);
    const QStringList arguments = QString::fromLatin1(QTest::currentDataTag()).split(u' ');
    QByteArray errors;
    QCOMPARE(runToExit(QStringLiteral(Q9SIM_PATH), arguments, &errors), 1);
    QVERIFY2(errors.startsWith("q9sim: " + complaint.toLocal8Bit()), errors.constData());
}

QTEST_GUILESS_MAIN(TestSimRadio)
#include "tst_sim_radio.moc"
