#include "programs.h"
#include "radio_on_port.h"

#include "cat_commands.h"
#include "relay_server.h"
#include "serial_link.h"
#include "sim_radio.h"
#include "simulated_line.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QNetworkInterface>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;

namespace {

const QByteArray Greeting = "!!Q9 relay ready tx=180;";
const QByteArray Queries = "FA;FB;FR;FT;FW;GT;MD;KS;SQ;PA;RA;AN;NB;PC;IF;AI;";
const QByteArray Idle = "IF00014060000     +000000 0002000001 ;";
const QByteArray Tuning = "IF00014060000     +000000 0012000001 ;";
const QByteArray StartState
    = "FA00014060000;FB00007030000;FR0;FT0;FW250010;GT0021;MD2;KS020;SQ000;PA0;RA00;AN1;"
      "NB00;PC1000;"
    + Idle + "AI0;";
// What the relay asks a radio it takes that has its reports off.
const QByteArray Takeover = "AI;AI2;AI;";

QByteArray frequencyCommand(char vfo, qint64 hz)
{
    return 'F' + QByteArray(1, vfo) + QByteArray::number(hz).rightJustified(11, '0') + ';';
}

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

// The simulated radio on its serial port, shared by an in-process relay
// between panels and CAT programs on loopback, as in the shack.
struct SharedRadio
{
    explicit SharedRadio(bool switchedOn = true)
    {
        radio.sim.setSilent(!switchedOn);
        QObject::connect(&server, &RelayServer::message, &server,
                         [this](const QString &line) { log += line; });
        if (!link.start() || !server.listen(QStringLiteral("127.0.0.1:0"))
            || !server.listen(QStringLiteral("127.0.0.1:0"), Session::Protocol::Cat))
            qFatal("cannot serve: %s", qPrintable(server.errorString()));
        server.takeRadio();
    }
    quint16 port(Session::Protocol protocol) const
    {
        return server.endpoint(protocol).section(u':', -1).toUShort();
    }

    RadioOnPort radio;
    SerialLink link{radio.port.slavePath()};
    RelayServer server{link};
    QStringList log;
};

// Everything sent before it has been dealt with once the client has the
// answer to its "ID;".
void settle(TestClient &client)
{
    const qsizetype answers = client.received.count("ID900;");
    client.socket.write("ID;");
    QTRY_COMPARE_WITH_TIMEOUT(client.received.count("ID900;"), answers + 1, ProcessTimeout);
}

QString nameOf(const TestClient &client)
{
    const QHostAddress address = client.socket.localAddress();
    const bool ipv6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    return (ipv6 ? u'[' + address.toString() + u']' : address.toString()) + u':'
        + QString::number(client.socket.localPort());
}

} // namespace

// The radio's end of the links: the simulated radio and q9sim, which serves
// it; q9relay between a radio's serial port, played by a pseudo-terminal
// behind a link, and its clients on loopback; the relay server in-process
// where a test must drive its timings.
class TestRadioEnd : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_device = m_dir.filePath(QStringLiteral("radio"));
        m_log.clear();
        plugRadio();
    }

    // The relay leaves the radio's reports as it found them (off).
    void cleanup()
    {
        if (m_relay.state() == QProcess::NotRunning)
            return;
        QVERIFY(stopWith(m_relay, SIGTERM));
        if (m_radio)
            QTRY_VERIFY(m_radio->heard.endsWith("AI0;"));
    }

    void simulatedRadioAnswers_data()
    {
        QTest::addColumn<QByteArray>("commands");
        QTest::addColumn<QByteArray>("answer");
        const auto row = [](const QByteArray &commands, const QByteArray &answer) {
            QTest::newRow(commands.left(60).toPercentEncoding(" ;").constData()) << commands << answer;
        };
        const QByteArray tenRu = QByteArray("RU;").repeated(10);
        // clang-format off
        row(Queries, StartState);
        row("id;q92;q9;", "ID900;Q91;");
        row("FB3560000;FR1;FT1;FB;FR;FT;FR1;IF;", "FB00003560000;FR1;FT1;IF00003560000     +000000 0002100001 ;");
        row("FT0;FT;", "FT0;");
        row("GT004;SW36;GT;SW36;GT;", "GT0040;GT0041;");
        row("MD3;MD;FW;MD7;MD1;FW;", "MD3;FW050030;FW250010;");
        row("FW0100;MD9;FW;", "FW180020;");
        row("FW0100;FW0100;FW0100;FW;FW0100;FW;", "FW025040;FW250010;");
        row("SW29;FW;SW29;SW29;FW;", "FW250011;FW250010;");
        row("KS035;SQ250;PA1;RA01;AN2;KS;SQ;PA;RA;AN;SW04;AN;", "KS035;SQ250;PA1;RA01;AN2;AN1;");
        row("PC105;PC;", "PC1050;");
        row("NB1;NB;NB1;NB;NB1;NB;SW22;NB;", "NB10;NB20;NB00;NB01;");
        row("UP1;FA;DN3;FA;UP4;FA;FR1;UP4;FB;", "FA00014060010;FA00014059960;FA00014060960;FB00007031000;");
        row("FA59999500;UP4;FA;FA30040;DN3;DN3;FA;", "FA00060000000;FA00000030000;");
        row("SW01;FA;SW03;SW03;FA;FR1;SW01;FB;", "FA00018086000;FA00010116000;FB00010116000;");
        row("FA50100000;SW01;FA;SW03;FA;", "FA00001836000;FA00050100000;");
        row("FA5000000;SW01;FA;FA5000000;SW03;FA;", "FA00007030000;FA00003560000;");
        row("RU;RU;RT1;IF;RD;RD;RD;RD;RD;XT1;RT0;IF;", "IF00014060000     +002010 0002000001 ;IF00014060000     -003001 0002000001 ;");
        row("RU;RC;RT1;RT0;IF;", Idle);
        row(tenRu.repeated(120) + "IF;", "IF00014060000     +999000 0002000001 ;");
        row(QByteArray("RD;").repeated(1200) + "IF;", "IF00014060000     -999000 0002000001 ;");
        row("FA14060000;FR0;MD2;" + tenRu + "RU;RU;RT1;IF;", "IF00014060000     +012010 0002000001 ;");
        row("FB7040500;FR1;MD3;RD;RD;RD;RD;RD;XT1;SW20;IF;", "IF00007040500     -005001 0013100001 ;");
        row("AI2;AI;AI0;AI;", "AI2;AI0;");
        row("SW20;IF;SW20;IF;SW27;IF;", Tuning + Idle + Idle);
        row("KY CQ CQ\r\n;IF;KY @;IF;KY ;IF;", Tuning + Idle + Idle);
        row("TX;IF;TX1;IF;RX;IF;SW20;TX0;RX;IF;", Tuning + Tuning + Idle + Idle);
        row("AI2;TX;TX;RX;RX;", Tuning + Idle);
        row("fa7040000;md3;md;fa; \r\nFR;\r\n\tFT;\r\n;;\r\n;", "MD3;FA00007040000;FR0;FT0;");
        // In its reporting mode the radio tells of every change, asked or not.
        row("RA01;UP1;MD3;SW20;SW20;AI2;RA01;MD3;GT002;", "");
        row("AI2;RA01;UP1;UP1;FR1;SW01;", "RA01;FA00014060010;FA00014060020;FR1;FB00010116000;");
        row("MD3;AI2;MD1;RT1;RU;XX;", "MD1;FW250010;IF00014060000     +000010 0001000001 ;IF00014060000     +001010 0001000001 ;?;");
        row("AI2;SW22;SW36;PC050;AI0;RA01;SW04;", "NB01;GT0020;PC0500;");
        // Every band keeps the last frequency used on it, from edge to edge.
        for (const QByteArray &hz : QByteArray("1800000 2000000 3500000 4000000 7000000 7300000 10100000 10150000 14000000 14350000 "
                                               "18068000 18168000 21000000 21450000 24890000 24990000 28000000 29700000 50000000 "
                                               "54000000").split(' '))
            row("FA" + hz + ";SW01;SW03;FA;", "FA" + hz.rightJustified(11, '0') + ';');
        // A command the radio cannot take is refused and changes nothing.
        const QByteArray refused = "XX;|F;|FA1;|FA123456789012;|FA1405x000;|FA-14060000;|FR2;|FT01;|FW0200;|FW1;|GT003;|GT02;|"
                                   "MD4;|MD22;|KS008;|KS051;|KS20;|SQ256;|PA2;|RA1;|RA02;|AN3;|NB2;|PC000;|PC151;|PC1050;|SM1;|"
                                   "IF1;|UP2;|DN;|SW99;|SW1;|RU1;|RT2;|XT;|KY;|KYCQ;|F A;|\x01\xff;|KY 1234567890123456789012345;|"
                                   "AI1;|ID1;|Q93;|SM0;|AG0;|SQ0;|TX3;|TX12;|RX0;";
        for (const QByteArray &bad : refused.split('|'))
            row(bad + Queries, "?;" + StartState);
        // clang-format on
    }

    void simulatedRadioAnswers()
    {
        QFETCH(QByteArray, commands);
        QFETCH(QByteArray, answer);
        Radio radio;
        QCOMPARE(radio.ask(commands), answer);
    }

    // A tune and keyed CW end by themselves; the options q9sim offers; line
    // noise that never ends a command; S-meter readings that repeat for a seed
    // with a station coming up out of the noise.
    void simulatedRadioOverTime()
    {
        Radio radio;
        radio.sim.setTuneDuration(50ms);
        radio.ask("AI2;");
        QCOMPARE(radio.ask("SW20;"), Tuning);
        QTRY_COMPARE_WITH_TIMEOUT(radio.said, Idle, 10000);
        QCOMPARE(radio.ask("KY CQ CQ DE Q9SIM\r\n;"), Tuning);
        QTRY_COMPARE_WITH_TIMEOUT(radio.said, Idle, 10000);
        QCOMPARE(radio.ask("KY @;AI0;"), QByteArray());

        radio.sim.setProbeAnswer(SimRadio::ProbeAnswer::AfterFirst);
        QCOMPARE(radio.ask("q92;q9;q9;Q9;"), QByteArray("Q91;Q91;"));
        radio.sim.setSilent(true);
        QCOMPARE(radio.ask("id;q9;FA;XX;MD3;"), QByteArray());
        radio.sim.setSilent(false);
        radio.sim.setPowerForm(SimRadio::PowerForm::Short);
        QCOMPARE(radio.ask("MD;PC;PC015;PC;PC016;"), QByteArray("MD3;PC010;PC015;?;"));
        radio.sim.setProbeAnswer(SimRadio::ProbeAnswer::Never);
        QCOMPARE(radio.ask("q9;"), QByteArray());
        // Noise longer than any command is dropped up to the ";" that ends it.
        radio.ask(QByteArray(CatCommand::MaxLength + 1, 'x'));
        QCOMPARE(radio.ask("AN;AN;"), QByteArray("AN1;"));
        radio.ask(QByteArray(CatCommand::MaxLength - 2, 'x'));
        QCOMPARE(radio.ask("AN;"), QByteArray("?;"));

        const auto readings = [](quint32 seed) {
            Radio metered;
            metered.sim.setSeed(seed);
            return QString::fromLatin1(metered.ask(QByteArray("SM;").repeated(300)));
        };
        QCOMPARE(readings(7), readings(7));
        QVERIFY(readings(8) != readings(7));
        QVERIFY(readings(7).contains(QRegularExpression(QStringLiteral("^(SM00(0[1-9]|1\\d|20);){300}$"))));
        QVERIFY(readings(7).contains(QRegularExpression(QStringLiteral("SM00(1[6-9]|20)"))));
    }

    // On a pseudo-terminal linked where asked (never in place of a file of
    // another kind), at the pace of a serial line, until a signal ends it and
    // removes the link; and behind the relay server, where a keying command one
    // client left unfinished is not completed by the next one's text.
    void q9simServes()
    {
        const QString link = m_dir.filePath(QStringLiteral("com1"));
        QFile plain(link);
        QVERIFY(plain.open(QIODevice::WriteOnly));
        PseudoTerminal terminal;
        QVERIFY(terminal.open() && !terminal.createLink(link));
        QVERIFY(terminal.errorString().endsWith(u"exists and is not a symlink; not replacing it"));
        QVERIFY(plain.remove() && QFile::link(m_dir.filePath(QStringLiteral("gone")), link));
        QProcess sim;
        sim.start(QStringLiteral(Q9SIM_PATH), {"--pty", link, "--vfoa", "7040000", "--paced"});
        QVERIFY(QTest::qWaitFor([&] { return QFile::symLinkTarget(link).startsWith(u"/dev/pts/"); },
                                ProcessTimeout));
        QSerialPort line(link);
        QVERIFY2(line.open(QIODevice::ReadWrite), qPrintable(line.errorString()));
        QByteArray replies;
        connect(&line, &QSerialPort::readyRead, this, [&] { replies += line.readAll(); });
        line.write("fa;MD;");
        QTRY_COMPARE_WITH_TIMEOUT(replies, QByteArray("FA00007040000;MD2;"), ProcessTimeout);
        line.close();
        QVERIFY(stopWith(sim, SIGTERM));
        QVERIFY(!QFileInfo(link).isSymLink());

        const quint16 port = startListening(sim, QStringLiteral(Q9SIM_PATH), {"--listen", "127.0.0.1:0"});
        TestClient client(port);
        client.socket.write("FA;KY 73 ");
        QTRY_COMPARE_WITH_TIMEOUT(client.received, Greeting + "FA00014060000;", ProcessTimeout);
        client.socket.disconnectFromHost();
        TestClient next(port);
        next.socket.write("FA;IF;");
        QTRY_COMPARE_WITH_TIMEOUT(next.received, Greeting + "FA00014060000;" + Idle, ProcessTimeout);
        QVERIFY(stopWith(sim, SIGINT));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QString>("complaint");
        const auto row = [](const char *command, const char *complaint) {
            QTest::newRow(command) << QString::fromLatin1(complaint);
        };
        // clang-format off
        row("q9sim --bogus", "Unknown option 'bogus'.");
        row("q9sim radio", "unexpected argument \"radio\"");
        row("q9sim --mode 5", "bad value for --mode: \"5\"");
        row("q9sim --vfoa 14MHz", "bad value for --vfoa: \"14MHz\"");
        row("q9sim --vfob 99000000", "bad value for --vfob: \"99000000\"");
        row("q9sim --power-form medium", "bad value for --power-form");
        row("q9sim --tune-seconds 0", "bad value for --tune-seconds");
        row("q9sim --seed -1", "bad value for --seed");
        row("q9sim --probe maybe", "bad value for --probe");
        row("q9sim --pty com1 --listen 127.0.0.1:0", "--pty and --listen exclude each other");
        row("q9sim --listen 127.0.0.1", "bad listen address \"127.0.0.1\"");
        row("q9sim --listen nowhere:2300", "bad listen address");
        row("q9sim --allow 10.0.0.0/8,", "bad --allow list \"10.0.0.0/8,\": \"\" is not an address (IPv4 is four decimal "
                                         "numbers without leading zeros, as in 192.168.1.7) (expected addresses and networks "
                                         "separated by commas, e.g. 192.168.1.0/24,::1, or any)\n");
        row("q9relay --device RADIO --allow 127.0.0.020", "bad --allow list \"127.0.0.020\": \"127.0.0.020\" is not");
        row("q9relay --device RADIO --listen 127.0.0.010:0", "bad listen address \"127.0.0.010:0\"");
        row("q9sim --pty com1 --allow any", "--pty and --allow exclude each other");
        row("q9sim --pty /nonexistent/q9/com1", "cannot create /nonexistent/q9/com1: No such file or directory");
        row("q9sim --listen BUSY", "cannot listen on BUSY");
        row("q9relay", "--device is required");
        // Something that is there but is no serial port is not waited for.
        row("q9relay --device /dev/null", "cannot open /dev/null");
        row("q9relay --device RADIO --listen BUSY", "cannot listen on BUSY");
        row("q9relay --device RADIO --max-clients 0", "bad value for --max-clients: \"0\"");
        row("q9sim --max-audio-clients 65", "bad value for --max-audio-clients: \"65\"");
        // The operator's audio comes back the way the receiver's goes.
        row("q9relay --device RADIO --audio-sink default", "--audio-sink needs --audio-source");
        // A terminal in the radio's place, or one another program serves, would
        // have the relay talk to itself or take a line from under a program.
        row("q9relay --device RADIO --cat-pty RADIO", "--cat-pty RADIO is the radio's own port");
        row("q9relay --device RADIO --cat-pty SERVED",
            "SERVED links to PTS, which is open: another program serves it (another relay, or it is a radio's "
            "own port); remove the link if nothing does\n");
        row("q9relay --device RADIO --cat-pty-group q9nogroup --cat-pty FREE",
            "CAT terminal FREE: there is no group q9nogroup");
        // A port another program holds names its holder.
        row("q9relay --device SERVED", "cannot open SERVED: in use by tst_radio_end (process PID)\n");
        // clang-format on
    }

    void usageErrors()
    {
        QFETCH(QString, complaint);
        QTcpServer occupant;
        QVERIFY(occupant.listen(QHostAddress::LocalHost));
        RadioOnPort served(m_dir.filePath(QStringLiteral("served")));
        QSerialPort holder(served.port.linkPath());
        QVERIFY2(holder.open(QIODevice::ReadWrite), qPrintable(holder.errorString()));
        const auto filled = [&](QString text) {
            return text.replace(QStringLiteral("RADIO"), m_device)
                .replace(QStringLiteral("SERVED"), served.port.linkPath())
                .replace(QStringLiteral("PTS"), served.port.slavePath())
                .replace(QStringLiteral("FREE"), m_dir.filePath(QStringLiteral("free")))
                .replace(QStringLiteral("PID"), QString::number(QCoreApplication::applicationPid()))
                .replace(QStringLiteral("BUSY"), QStringLiteral("127.0.0.1:%1").arg(occupant.serverPort()));
        };
        QStringList arguments = filled(QString::fromLatin1(QTest::currentDataTag())).split(u' ');
        const QString program = arguments.takeFirst();
        const QString path = program == u"q9sim" ? QStringLiteral(Q9SIM_PATH) : QStringLiteral(Q9RELAY_PATH);
        QProcess process;
        process.start(path, arguments);
        QVERIFY(process.waitForFinished(ProcessTimeout));
        QCOMPARE(process.exitCode(), 1);
        const QByteArray errors = process.readAllStandardError();
        QVERIFY2(errors.startsWith((program + QStringLiteral(": ") + filled(complaint)).toLocal8Bit()),
                 errors.constData());
    }

    // The radio hears a client's text only as whole printable commands, up to
    // each ";": one holding control bytes is refused to its sender, and noise
    // longer than any command is dropped up to the ";" that ends it. A panel's
    // "##" where a command could begin signs it off, also split across reads,
    // and what follows never reaches the radio; inside a command it is text.
    // A command a session leaves unfinished dies with it: the next client's
    // first command cannot complete it into a keying command. Every byte value
    // the radio sends reaches a client that hears its reports.
    void radioHearsWholeCommandsOnly()
    {
        SharedRadio shared;
        TestClient first(shared.port(Session::Protocol::Panel));
        settle(first);
        const QString firstName = nameOf(first);
        shared.radio.heard.clear();
        first.socket.write("\x01"
                           "AI0;\x1b"
                           "FA7000000;\x7f"
                           "KS010;"
                           + QByteArray(300, 'x') + ";FB7000000;KY 73 ## TU;FA;");
        QTRY_COMPARE_WITH_TIMEOUT(first.received, Greeting + "ID900;?;?;?;FA00014060000;", ProcessTimeout);
        QCOMPARE(shared.radio.heard, QByteArray("FB7000000;KY 73 ## TU;AI;FA;"));
        QVERIFY(shared.log.contains(
            QStringLiteral("client %1 sent a command holding control bytes; refused").arg(firstName)));
        shared.radio.heard.clear();
        for (const QByteArray chunk : {"FA7;#", "MD3;", "RT1;#"})
            first.socket.write(chunk);
        first.socket.write("#FB7;");
        QTRY_VERIFY_WITH_TIMEOUT(first.isClosed(), ProcessTimeout);
        QCOMPARE(shared.radio.heard, QByteArray("FA7;#MD3;RT1;AI;"));
        QVERIFY(shared.log.contains(QStringLiteral("client %1 signed off").arg(firstName)));

        TestClient leaving(shared.port(Session::Protocol::Cat));
        leaving.socket.write("AI2;");
        settle(leaving);
        leaving.socket.write("KY 73 ");
        shared.radio.port.write(everyByteValue() + "##;");
        QTRY_VERIFY_WITH_TIMEOUT(leaving.received.endsWith(everyByteValue() + "##;"), ProcessTimeout);
        const QString leavingName = nameOf(leaving);
        leaving.socket.disconnectFromHost();
        QTRY_VERIFY(shared.log.contains(
            QStringLiteral("CAT client %1 left 6 bytes of a command unfinished; dropped").arg(leavingName)));
        TestClient next(shared.port(Session::Protocol::Cat));
        shared.radio.heard.clear();
        next.socket.write("id;");
        QTRY_COMPARE_WITH_TIMEOUT(next.received, QByteArray("ID900;"), ProcessTimeout);
        QCOMPARE(shared.radio.heard, QByteArray("id;"));
    }

    // A client that signs off, closes or half-closes still has everything it
    // sent whole reach the radio, in order, behind a program that polls, and
    // hears the answers while it is there: an unkey is never lost. The last
    // byte may come in a segment of its own with the hang-up.
    void aGentleEndLosesNothing()
    {
        SharedRadio shared;
        TestClient poller(shared.port(Session::Protocol::Cat));
        QTimer poll;
        connect(&poll, &QTimer::timeout, &poller.socket, [&] { poller.socket.write("SM;"); });
        poll.start(20ms);
        TestClient panel(shared.port(Session::Protocol::Panel));
        QTRY_COMPARE_WITH_TIMEOUT(panel.received, Greeting, ProcessTimeout);
        panel.socket.write("FA;FB7000000;RX;##");
        QTRY_VERIFY_WITH_TIMEOUT(panel.isClosed(), ProcessTimeout);
        QCOMPARE(panel.received, Greeting + "FA00014060000;");
        const QByteArray &heard = shared.radio.heard;
        QVERIFY(heard.contains("FB7000000;") && heard.indexOf("RX;") > heard.indexOf("FB7000000;"));

        TestClient halfClosed(shared.port(Session::Protocol::Cat));
        halfClosed.socket.write("FB;IF");
        QVERIFY(halfClosed.socket.waitForBytesWritten());
        halfClosed.socket.write(";");
        QVERIFY(halfClosed.socket.waitForBytesWritten());
        ::shutdown(int(halfClosed.socket.socketDescriptor()), SHUT_WR);
        QTRY_VERIFY_WITH_TIMEOUT(halfClosed.isClosed(), ProcessTimeout);
        QCOMPARE(halfClosed.received, "FB00007000000;" + Idle);
    }

    // A client beyond the limit is told, in a line no panel takes for a reply,
    // and let go at once. Clients that reset their connection at once, as port
    // scanners do, are named in the log all the same. A client that hangs up
    // without "##" and comes straight back is served, every time: its hang-up
    // is seen before it is judged one too many.
    void clientsUpToTheLimit()
    {
        const quint16 port = startRelay({"--max-clients", "2"});
        QCOMPARE(m_said,
                 QStringLiteral("q9relay: listening on 127.0.0.1:%1, radio on %2\n")
                     .arg(port)
                     .arg(m_device)
                     .toLocal8Bit());
        TestClient first(port), another(port);
        QTRY_COMPARE_WITH_TIMEOUT(first.received + another.received, Greeting + Greeting, ProcessTimeout);
        const QDir descriptors(QStringLiteral("/proc/%1/fd").arg(m_relay.processId()));
        const qsizetype open
            = descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
        TestClient third(port);
        QTRY_VERIFY_WITH_TIMEOUT(third.isClosed(), ProcessTimeout);
        QCOMPARE(third.received, RelayServer::BusyText.toByteArray());
        // Stopped, the relay takes them only once they have already gone.
        ::kill(pid_t(m_relay.processId()), SIGSTOP);
        QStringList scanners;
        for (int i = 0; i < 20; ++i) {
            TestClient scanner(port);
            QVERIFY(scanner.socket.waitForConnected(ProcessTimeout));
            scanners.append(nameOf(scanner));
            scanner.reset();
        }
        ::kill(pid_t(m_relay.processId()), SIGCONT);
        for (const QString &scanner : scanners)
            QTRY_VERIFY(logged(QStringLiteral("refused client %1: busy with 2 clients").arg(scanner)));
        QCOMPARE(descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size(), open);
        first.socket.disconnectFromHost();
        for (int attempt = 0; attempt < 50; ++attempt) {
            TestClient client(port);
            QTRY_VERIFY_WITH_TIMEOUT(!client.received.isEmpty(), ProcessTimeout);
            QCOMPARE(client.received, Greeting);
            client.socket.disconnectFromHost();
        }
    }

    void clientsAdmittedByAddress_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("from");
        QTest::addColumn<bool>("served");
        QTest::addColumn<QString>("warning");
        const QStringList ipv6 = {"--listen", "[::1]:0"};
        const QStringList everywhere = {"--listen", "[::]:0"};
        const QString beyond
            = QStringLiteral("which other computers can reach, but only clients on this one are "
                             "served: --allow names the others");
        const QString nobody
            = QStringLiteral("but no client that can reach it is on the --allow list: every one "
                             "is refused");
        // clang-format off
        QTest::newRow("listed") << QStringList{"--allow", "127.0.0.2"} << "127.0.0.2" << true << "";
        QTest::newRow("not listed") << QStringList{"--allow", "127.0.0.2"} << "127.0.0.1" << false << "";
        QTest::newRow("in a network") << QStringList{"--allow", "10.0.0.0/8, 127.0.0.0/30"} << "127.0.0.3" << true << "";
        QTest::newRow("beyond the network") << QStringList{"--allow", "127.0.0.0/30"} << "127.0.0.4" << false << "";
        QTest::newRow("loopback by default") << QStringList() << "127.0.0.5" << true << "";
        QTest::newRow("anyone") << QStringList{"--allow", "any"} << "127.0.0.6" << true << "";
        QTest::newRow("only the home network on loopback") << QStringList{"--allow", "192.168.1.0/24"} << "127.0.0.1" << false << nobody;
        QTest::newRow("IPv6 loopback by default") << ipv6 << "::1" << true << "";
        QTest::newRow("IPv6 not listed") << ipv6 + QStringList{"--allow", "127.0.0.1,fd00::/8"} << "::1" << false << nobody;
        QTest::newRow("every address, IPv4") << everywhere << "127.0.0.7" << true << beyond;
        QTest::newRow("every address, IPv6") << everywhere << "::1" << true << beyond;
        QTest::newRow("every address, an IPv4 list") << everywhere + QStringList{"--allow", "127.0.0.0/8"} << "127.0.0.8" << true << beyond;
        // clang-format on
    }

    // A client from elsewhere is closed before the greeting, and what it sent
    // never reaches the radio. A listener whose address the list makes
    // pointless is told at start.
    void clientsAdmittedByAddress()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, from);
        QFETCH(bool, served);
        QFETCH(QString, warning);
        if (from.contains(u':') && !hasIpv6Loopback())
            QSKIP("this machine has no IPv6 loopback");
        const quint16 port = startRelay(options);
        TestClient client(port, QHostAddress(from));
        const QString name = nameOf(client);
        client.socket.write("FA;");
        QTRY_VERIFY(logged(
            (served ? QStringLiteral("accepted client %1") : QStringLiteral("refused client %1: not allowed"))
                .arg(name)));
        QTRY_COMPARE_WITH_TIMEOUT(client.received, served ? Greeting + "FA00014060000;" : QByteArray(),
                                  ProcessTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(client.isClosed(), !served, ProcessTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(m_radio->heard, Takeover + (served ? "FA;" : ""), ProcessTimeout);
        const qsizetype listen = options.indexOf(u"--listen");
        const QString address = listen < 0 ? QStringLiteral("127.0.0.1") : options[listen + 1].chopped(2);
        QCOMPARE(warned(),
                 warning.isEmpty()
                     ? QString()
                     : QStringLiteral("listening on %1:%2, %3").arg(address).arg(port).arg(warning));
    }
    void allowList_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("admits");
        QTest::addColumn<QString>("refuses");
        QTest::addColumn<QString>("problem");
        const auto row
            = [](const char *list, const char *admits, const char *refuses, const char *problem = "") {
                  QTest::newRow(list) << list << admits << refuses << problem;
              };
        // clang-format off
        // A [::] listener sees its IPv4 clients as IPv4-mapped IPv6 addresses.
        row("192.168.1.0/24", "192.168.1.255 ::ffff:192.168.1.9", "192.168.2.1");
        row("192.168.1.7", "::ffff:192.168.1.7", "::ffff:192.168.1.8");
        row("::ffff:127.0.0.2/128", "127.0.0.2", "127.0.0.3");
        row("::ffff:10.0.0.0/104", "10.9.9.9", "11.0.0.1");
        // This computer: loopback, and its own addresses whatever it listens on.
        row("default", "127.0.0.5 ::1 ::ffff:127.0.0.9 OWN", "192.0.2.1 ::ffff:192.0.2.1");
        // Entries that would admit other addresses than they seem to name.
        row("192.168.1.020", "", "", "\"192.168.1.020\" is not an address");
        row("127.0.0.2/8", "", "", "\"127.0.0.2/8\" has bits set beyond its prefix; the network is 127.0.0.0/8");
        row("fd00::1/8", "", "", "the network is fd00::/8");
        row("10.0.0.0/0", "", "", "admits everybody; say \"any\" if that is meant");
        row("10.0.0.0/08", "", "", "\"10.0.0.0/08\" has no prefix length that fits its address");
        row("::ffff:10.0.0.0/95", "", "", "has no prefix length");
        row("10.0.0.0/8,", "", "", "\"\" is not an address");
        // clang-format on
    }

    // Each entry admits what it names and nothing else.
    void allowList()
    {
        QFETCH(QString, list);
        QFETCH(QString, admits);
        QFETCH(QString, refuses);
        QFETCH(QString, problem);
        QString why;
        const auto access = list == u"default" ? AccessList() : AccessList::parse(list, &why);
        QVERIFY2(access.has_value() == problem.isEmpty() && why.contains(problem), qPrintable(why));
        QList<QHostAddress> own = QNetworkInterface::allAddresses();
        own.removeIf([](const QHostAddress &address) { return address.isLoopback(); });
        const QString ownAddress = own.isEmpty() ? QStringLiteral("::1") : own.first().toString();
        for (const QString &address : admits.split(u' ', Qt::SkipEmptyParts))
            QVERIFY2(access->allows(QHostAddress(address == u"OWN" ? ownAddress : address)),
                     qPrintable(address));
        for (const QString &address : refuses.split(u' ', Qt::SkipEmptyParts))
            QVERIFY2(!access->allows(QHostAddress(address)), qPrintable(address));
    }

    void radioShared_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("heard");
        const auto row = [](const char *name, const char *steps, const char *heard) {
            QTest::newRow(name) << QString::fromLatin1(steps) << QString::fromLatin1(heard);
        };
        // clang-format off
        // A and B are CAT programs, P a panel.
        row("greeting on the panel port only", "P FA;|A FA;", "P=!!Q9 relay ready tx=180;FA00014060000;|A=FA00014060000;|B=");
        row("reports by level", "B AI2;|A FA7000000;|B SW04;", "A=|B=FA00007000000;AN2;");
        row("fine tuning echoes to the others only", "A AI2;|B AI2;|A AI0;FA7000010;AI2;|B MD3;",
            "A=MD3;FW050030;|B=FA00007000010;MD3;FW050030;");
        row("one client's AI0 silences no one else", "A AI2;|B AI2;|A AI0;|B FA7000000;|A AI;|B AI1;AI;",
            "A=AI0;|B=FA00007000000;AI1;");
        row("rejections to the asker", "A XX;|B AI2;ZZ;|A AI12;|A FA1;", "A=?;?;?;|B=?;");
        row("selector queries are queries", "B AI2;|A SM0;AG0;SQ0;", "A=?;?;?;|B=");
        row("control bytes refused", "B AI2;|A \x01" "AI0;\x1b" "FA7000000;\x7f" "KS010;KS;", "A=?;?;?;KS020;|B=");
        row("a set then a query answers the value set", "B AI2;|A FA7000100;FA;UP4;UP4;FA;",
            "A=FA00007000100;FA00007002100;|B=FA00007000100;FA00007001100;FA00007002100;");
        row("a query never answered wedges nothing", "mute|B q9;|A FB;", "A=FB00007030000;|B=");
        // A radio switched off and on forgets its reports: the next rise turns them on again.
        row("radio switched off and on", "A AI2;|off and on|B AI2;FA7000000;", "A=FA00007000000;|B=FA00007000000;");
        // clang-format on
    }

    // What each client hears of the shared radio: the answers to its own
    // queries, and the reports its own level asks for.
    void radioShared()
    {
        QFETCH(QString, steps);
        QFETCH(QString, heard);
        SharedRadio shared;
        std::map<QChar, std::unique_ptr<TestClient>> clients;
        for (const QChar name : {u'A', u'B', u'P'})
            clients[name] = std::make_unique<TestClient>(
                shared.port(name == u'P' ? Session::Protocol::Panel : Session::Protocol::Cat));
        for (const QString &step : steps.split(u'|')) {
            if (step == u"mute" || step == u"off and on") {
                if (step == u"mute")
                    shared.radio.sim.setProbeAnswer(SimRadio::ProbeAnswer::Never);
                else
                    shared.radio.sim.receive("AI0;");
                continue;
            }
            TestClient &client = *clients[step.front()];
            client.socket.write(step.mid(2).toLatin1());
            settle(client);
        }
        QStringList actual;
        for (const QString &expected : heard.split(u'|')) {
            TestClient &client = *clients[expected.front()];
            settle(client);
            actual += expected.front() + QStringLiteral("=")
                + QString::fromLatin1(client.received).remove(QStringLiteral("ID900;"));
        }
        QCOMPARE(actual.join(u'|'), heard);
    }

    // Two to four programs mixing sets, sets the radio refuses and queries,
    // in random interleavings and chunks, with the radio reporting every
    // change: each gets exactly the replies its own commands caused, in
    // order, none lost: "?;" for each refusal, and its own setting read back
    // as it last set it, never an older value or a report of it. Each sends
    // more than the relay queues for it, and is read on as its commands go.
    void everyReplyGoesToItsAsker()
    {
        struct Setting
        {
            QByteArray code;
            int width;
            int low, high;
            qint64 value;
        };
        QList<Setting> settings = {{"FA", 11, 3'500'000, 3'800'000, 14'060'000},
                                   {"FB", 11, 7'000'000, 7'200'000, 7'030'000},
                                   {"KS", 3, 9, 50, 20},
                                   {"SQ", 3, 0, 255, 0}};
        SharedRadio shared;
        QRandomGenerator random(26);
        for (int clientCount : {2, 3, 4}) {
            std::vector<std::unique_ptr<TestClient>> clients;
            QList<QByteArray> sent(clientCount), expected(clientCount);
            for (int i = 0; i < clientCount; ++i) {
                clients.push_back(std::make_unique<TestClient>(shared.port(Session::Protocol::Cat)));
                Setting &own = settings[i];
                for (int command = 0; command < RadioQueue::MaxQueued + 8; ++command) {
                    const int kind = random.bounded(5);
                    if (kind < 2) {
                        own.value = random.bounded(own.low, own.high + 1);
                        sent[i]
                            += own.code + QByteArray::number(own.value).rightJustified(own.width, '0') + ';';
                    } else if (kind == 2) {
                        sent[i] += "SW99;";
                        expected[i] += "?;";
                    } else {
                        sent[i] += own.code + ';';
                        expected[i]
                            += own.code + QByteArray::number(own.value).rightJustified(own.width, '0') + ';';
                    }
                }
            }
            QList<qsizetype> written(clientCount, 0);
            for (int i = random.bounded(clientCount); written != QList<qsizetype>(clientCount, -1);
                 i = random.bounded(clientCount)) {
                if (written[i] < 0)
                    continue;
                const QByteArray chunk = sent[i].mid(written[i], random.bounded(1, 20));
                clients[i]->socket.write(chunk);
                written[i] = written[i] + chunk.size() < sent[i].size() ? written[i] + chunk.size() : -1;
                QTest::qWait(random.bounded(3));
            }
            for (int i = 0; i < clientCount; ++i)
                QTRY_COMPARE_WITH_TIMEOUT(clients[i]->received, expected[i], 60000);
        }
    }

    // A set and then a query of the same code answer the value just set, time
    // after time, with the radio reporting the change; a query behind two
    // hundred sets at 4800 baud is waited for from when it has left the line.
    void queriesAnswerTheValueJustSet()
    {
        SharedRadio shared;
        TestClient client(shared.port(Session::Protocol::Cat));
        for (int step = 1; step <= 40; ++step) {
            const QByteArray set = frequencyCommand('A', 7'000'000 + 10 * step);
            client.socket.write(set + "FA;");
            QTRY_COMPARE_WITH_TIMEOUT(client.received, set, ProcessTimeout);
            client.received.clear();
        }
        QByteArray sets;
        for (int step = 1; step <= 200; ++step)
            sets += frequencyCommand('B', 7'000'000 + 10 * step);
        client.socket.write(sets + "FB;");
        QTRY_COMPARE_WITH_TIMEOUT(client.received, frequencyCommand('B', 7'002'000), 30000);
        QVERIFY(!shared.log.join(u'\n').contains(u"did not answer"));
    }

    // CAT programs take turns on a pseudo-terminal: each program's session
    // ends when it closes the terminal, so two programs' text never makes one
    // command (a tune from "SW2" and "0;"), and the next program starts afresh:
    // nothing owed to the last one, its level 0. A stranger on the CAT port is
    // refused as on every listener.
    void programsTakeTurnsOnATerminal()
    {
        SharedRadio shared;
        const QString link = m_dir.filePath(QStringLiteral("cat1"));
        QVERIFY(shared.server.serveTerminal(link));
        shared.server.setAccess(*AccessList::parse(QStringLiteral("127.0.0.2")));
        TestClient stranger(shared.port(Session::Protocol::Cat));
        QTRY_VERIFY(stranger.isClosed());
        QSerialPort terminal(link);
        for (const bool pause : {true, false}) {
            for (const QByteArray text : {"SW2", "0;"}) {
                QVERIFY(terminal.open(QIODevice::ReadWrite));
                terminal.write(text);
                QVERIFY(terminal.waitForBytesWritten(ProcessTimeout));
                terminal.close();
                QTest::qWait(pause ? 300 : 0);
            }
        }
        QVERIFY(terminal.open(QIODevice::ReadWrite));
        terminal.write("AI2;FA;SW04;IF;");
        QTRY_VERIFY(shared.radio.heard.endsWith("IF;"));
        terminal.close();
        QVERIFY(terminal.open(QIODevice::ReadWrite));
        QByteArray heard;
        connect(&terminal, &QSerialPort::readyRead, this, [&] { heard += terminal.readAll(); });
        QTest::qWait(500);
        terminal.write("AI;");
        QTRY_COMPARE(heard, QByteArray("AI0;"));
        QVERIFY2(!shared.radio.heard.contains("SW2") && !shared.radio.sim.state().transmitting,
                 shared.radio.heard.constData());
        QVERIFY(shared.log.contains(
            QStringLiteral("CAT terminal %1 left 3 bytes of a command unfinished; dropped").arg(link)));
    }
    // The shack's programs run as their users, not as the relay's: a member of
    // the terminals' group reaches the radio through one with Hamlib, where
    // anyone else is kept out.
    void terminalsServeTheirGroup_data()
    {
        QTest::addColumn<QString>("groups");
        QTest::addColumn<QByteArray>("read");
        QTest::newRow("member of the group")
            << QStringLiteral("--groups=dialout") << QByteArray("14060000\n");
        QTest::newRow("another user") << QStringLiteral("--clear-groups") << QByteArray();
    }

    void terminalsServeTheirGroup()
    {
        QFETCH(QString, groups);
        QFETCH(QByteArray, read);
        SharedRadio shared;
        shared.server.setTerminalGroup(QStringLiteral("dialout"), true);
        const QString link = m_dir.filePath(QStringLiteral("cat1"));
        QVERIFY(shared.server.serveTerminal(link));
        // As the service's runtime folder: open to all, to reach the link.
        QVERIFY(QFile::setPermissions(m_dir.path(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                          | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                          | QFile::ExeOther));
        QProcess rigctl;
        rigctl.start(QStringLiteral("setpriv"),
                     {QStringLiteral("--reuid=4242"), QStringLiteral("--regid=4242"), groups,
                      QStringLiteral("rigctl"), QStringLiteral("-m"), QStringLiteral("2014"),
                      QStringLiteral("-r"), link, QStringLiteral("f")});
        QTRY_VERIFY_WITH_TIMEOUT(rigctl.state() == QProcess::NotRunning, ProcessTimeout);
        QCOMPARE(rigctl.readAllStandardOutput(), read);
        QCOMPARE(rigctl.exitCode() == 0, !read.isEmpty());
    }

    // A client whose computer has gone without a word holds the radio only until
    // the relay's probes find it out; then the next one is served.
    void vanishedClientLetGo()
    {
        Radio radio;
        SimulatedLine line(radio.sim);
        RelayServer server(line);
        server.setMaxClients(1);
        server.setLiveness({1s, 1s, 1, 1500ms});
        QStringList log;
        connect(&server, &RelayServer::message, &server, [&](const QString &line) { log.append(line); });
        QVERIFY(server.listen(QStringLiteral("127.0.0.1:0")));
        const quint16 port = server.endpoint().section(u':', -1).toUShort();
        TestClient silent(port);
        QTRY_COMPARE(silent.received, Greeting);
        const QString name = nameOf(silent);
        silent.vanish();
        TestClient early(port);
        QTRY_COMPARE(early.received, RelayServer::BusyText.toByteArray());
        QTRY_VERIFY_WITH_TIMEOUT(
            log.contains(QStringLiteral("client %1 lost: Connection timed out").arg(name)), ProcessTimeout);
        TestClient next(port);
        QTRY_COMPARE(next.received, Greeting);
    }

    // A client that never reads is cut off while the radio chatters, once the
    // relay holds the backlog for it; its kernel send buffer is too small to
    // hide more, and only what the client's own system took in comes on top.
    void clientThatNeverReadsCutOff()
    {
        Radio radio;
        SimulatedLine line(radio.sim);
        RelayServer server(line);
        QVERIFY(server.listen(QStringLiteral("127.0.0.1:0")));
        TestClient deaf(server.endpoint().section(u':', -1).toUShort());
        deaf.socket.write("AI2;");
        QTRY_COMPARE(deaf.received, Greeting);
        deaf.socket.setReadBufferSize(1);
        int taken = 0;
        socklen_t size = sizeof taken;
        ::getsockopt(int(deaf.socket.socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &taken, &size);
        const QByteArray chatter = QByteArray("SM0005;").repeated(100);
        qint64 chattered = 0;
        for (; server.clientCount() > 0 && chattered < 16 * 1024 * 1024; chattered += chatter.size()) {
            emit line.received(chatter);
            QCoreApplication::processEvents();
        }
        QCOMPARE(server.clientCount(), 0);
        QVERIFY2(chattered < SocketSession::MaxBacklog + taken + 4 * SocketSession::SendBuffer,
                 qPrintable(QString::number(chattered)));
    }

    // A client flooding the radio's 4800-baud line is slowed down by the
    // network rather than cut short: the radio gets its commands whole and in
    // order, at the line's own pace.
    void floodReachesTheRadioInOrder()
    {
        const quint16 port = startRelay();
        TestClient flooder(port);
        settle(flooder);
        QByteArray flood;
        for (int hz = 1'000'000; flood.size() < 1'000'000; hz += 10)
            flood += frequencyCommand('A', hz);
        // While this loop holds the event loop, nothing reads the radio's end,
        // and the flood waits where the network holds it, not in the relay.
        flooder.socket.setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 16 * 1024);
        flooder.socket.write(flood);
        QElapsedTimer held;
        held.start();
        while (flooder.socket.bytesToWrite() > 0 && held.elapsed() < 3000)
            flooder.socket.waitForBytesWritten(100);
        QVERIFY(flooder.socket.bytesToWrite() > 0);
        QTest::qWait(3000);
        const QByteArray reached = m_radio->heard.mid(Takeover.size() + 3);
        QVERIFY2(reached.size() > 1000 && flood.startsWith(reached), reached.left(100).constData());
    }

    // A service started before its USB adapter is plugged in waits for it. The
    // radio behind a port that went away has forgotten what it was told, so
    // its client is closed; the next one starts afresh once the port is back.
    void deviceAwaitedLostAndBack()
    {
        m_radio.reset();
        const quint16 port = startRelay();
        QTRY_VERIFY(logged(QStringLiteral("waiting for %1").arg(m_device)));
        plugRadio();
        QTRY_VERIFY_WITH_TIMEOUT(logged(m_device + QStringLiteral(" is there")), ProcessTimeout);
        TestClient client(port);
        QTRY_COMPARE_WITH_TIMEOUT(client.received, Greeting, ProcessTimeout);
        const QString name = nameOf(client);
        m_radio.reset();
        QTRY_VERIFY_WITH_TIMEOUT(client.isClosed(), ProcessTimeout);
        QTRY_VERIFY(logged(m_device + QStringLiteral(" lost: ")));
        QTRY_VERIFY(logged(QStringLiteral("client %1 closed: ").arg(name)));
        plugRadio();
        QTRY_VERIFY_WITH_TIMEOUT(logged(m_device + QStringLiteral(" is back")), ProcessTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(m_radio->heard, Takeover, ProcessTimeout);
        TestClient again(port);
        again.socket.write("FA;");
        QTRY_COMPARE_WITH_TIMEOUT(again.received, Greeting + "FA00014060000;", ProcessTimeout);
    }

    // A radio switched on after the relay started is asked now and then until
    // it answers, and then set to report; the log tells both.
    void radioSwitchedOnLateReports()
    {
        SharedRadio shared(false);
        QTRY_VERIFY_WITH_TIMEOUT(
            shared.log.contains(QStringLiteral("the radio did not answer \"AI;\" in time")), ProcessTimeout);
        shared.radio.sim.setSilent(false);
        QTRY_VERIFY_WITH_TIMEOUT(shared.radio.sim.state().autoInformation, ProcessTimeout);
        QVERIFY(shared.log.contains(QStringLiteral("the radio answers again")));
    }

    void transmitterHeldByOne_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<int>("limitSeconds");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("keyed");
        QTest::addColumn<QString>("heard");
        QTest::addColumn<QByteArray>("radioKeying");
        const auto row = [](const char *name, const char *method, int limit, const char *steps,
                            const char *keyed, const char *heard, const char *radioKeying) {
            QTest::newRow(name) << QString::fromLatin1(method) << limit << QString::fromLatin1(steps)
                                << QString::fromLatin1(keyed) << QString::fromLatin1(heard)
                                << QByteArray(radioKeying);
        };
        // P and Q are panels, C a CAT program; "keyed" is the radio's state
        // after each step. "audio P" is P's audio, which plays for 300 ms.
        // clang-format off
        row("a panel renews, and the radio hears one TX", "cat", 180, "P TX;|renew P|wait 800|quiet P|P RX;",
            "K K K K -", "P=|Q=|C=", "TX;RX;");
        row("another's keying is refused and told who holds it", "cat", 180,
            "P TX;|renew P|Q TX;|C TX;SW20;KY CQ;|quiet P|P RX;|Q TX;",
            "K K K K K - K",
            "P=|Q=!!Q9 relay transmit refused: P holds the transmitter;?;|C=?;?;?;", "TX;RX;TX;");
        row("another's unkey leaves the holder alone", "cat", 180, "P TX;|renew P|C RX;|quiet P|P RX;",
            "K K K K -", "P=|Q=|C=", "TX;RX;");
        row("a lease not renewed lapses, and takes RX before TX again", "cat", 180, "P TX;|wait 800|P TX;|P RX;|P TX;",
            "K - - - K",
            "P=!!Q9 relay transmit ended: its lease lapsed;|Q=|C=", "TX;RX;RX;TX;");
        row("a CAT program holds until it leaves", "cat", 180, "C TX;|wait 800|Q TX;|gone C|Q TX;|Q RX;",
            "K K K - K -", "P=|Q=!!Q9 relay transmit refused: C holds the transmitter;?;|C=", "TX;RX;TX;RX;");
        row("the transmit limit", "cat", 1, "C TX;|wait 1300|C TX;|C RX;TX;",
            "K - - K", "P=|Q=|C=?;", "TX;RX;RX;TX;");
        // The radio answers each query in about 35 ms: the renewals wait
        // behind the holder's own queries for longer than the lease.
        const QByteArray backlog = "P " + QByteArray("FA;").repeated(24);
        row("renewals count as they come, however slow the radio", "cat", 180,
            ("P TX;|renew P|" + backlog + "|quiet P|P RX;").constData(), "K K K K -", "P=|Q=|C=", "TX;RX;");
        row("a let-go waits for the audio to play", "cat", 180, "P TX;|audio P|P RX;|wait 400",
            "K K K -", "P=|Q=|C=", "TX;RX;");
        row("tune and CW from the holder go on", "cat", 180, "C TX;|C KY CQ;|C RX;",
            "K K -", "P=|Q=|C=", "TX;KY CQ;RX;");
        row("a control line keys, and no TX goes", "rts", 180, "P TX;|wait 800|Q TX;|Q RX;",
            "K - K -", "P=!!Q9 relay transmit ended: its lease lapsed;|Q=|C=", "RX;");
        // clang-format on
    }

    // One client holds the transmitter at a time, and the relay unkeys a
    // panel that stops renewing, a program that leaves, and anyone at the
    // transmit limit.
    void transmitterHeldByOne()
    {
        QFETCH(QString, method);
        QFETCH(int, limitSeconds);
        QFETCH(QString, steps);
        QFETCH(QString, keyed);
        QFETCH(QString, heard);
        QFETCH(QByteArray, radioKeying);
        SharedRadio shared;
        // The pseudo-terminal has no control lines: a cable stands in.
        shared.link.setControlLines([&shared](RadioLine::ControlLine, bool on) {
            shared.radio.sim.holdPttLine(on);
            return true;
        });
        shared.server.transmitter().setMethod(*Transmitter::methodNamed(method));
        shared.server.transmitter().setLimit(std::chrono::seconds(limitSeconds));
        std::map<QChar, std::unique_ptr<TestClient>> clients;
        std::map<QString, QChar> names;
        for (const QChar name : {u'P', u'Q', u'C'}) {
            const bool program = name == u'C';
            auto &client = clients[name] = std::make_unique<TestClient>(
                shared.port(program ? Session::Protocol::Cat : Session::Protocol::Panel));
            settle(*client);
            names[(program ? QStringLiteral("CAT client ") : QStringLiteral("client ")) + nameOf(*client)]
                = name;
        }
        // A panel renews as the operator talks: "TX;" every 100 ms.
        QTimer renewal;
        renewal.setInterval(100);
        QStringList states;
        for (const QString &step : steps.split(u'|')) {
            TestClient *client = step.startsWith(u"wait ")
                ? nullptr
                : clients.at(step.back() == u';' ? step.front() : step.back()).get();
            if (!client) {
                QTest::qWait(step.mid(5).toInt());
            } else if (step.startsWith(u"gone ")) {
                client->socket.disconnectFromHost();
            } else if (step.startsWith(u"renew ")) {
                QObject::connect(&renewal, &QTimer::timeout, &client->socket,
                                 [client] { client->socket.write("TX;"); });
                renewal.start();
            } else if (step.startsWith(u"audio ")) {
                shared.server.transmitter().heardAudio(std::chrono::milliseconds(300));
            } else if (step.startsWith(u"quiet ")) {
                renewal.stop();
            } else {
                client->socket.write(step.mid(2).toLatin1());
                settle(*client);
            }
            QTest::qWait(50);
            states += shared.radio.sim.state().transmitting ? QStringLiteral("K") : QStringLiteral("-");
        }
        QCOMPARE(states.join(u' '), keyed);
        QStringList actual;
        for (const QString &expected : heard.split(u'|')) {
            QString text = QString::fromLatin1(clients.at(expected.front())->received);
            text.remove(QRegularExpression(QStringLiteral("!!Q9 relay ready[^;]*;|ID900;|FA\\d+;")));
            for (const auto &[clientName, name] : names)
                text.replace(clientName, name);
            actual += expected.front() + QStringLiteral("=") + text;
        }
        QCOMPARE(actual.join(u'|'), heard);
        static const QRegularExpression keying(QStringLiteral("(TX|RX|KY)[^;]*;"));
        QByteArray sentToRadio;
        for (const QRegularExpressionMatch &match :
             keying.globalMatch(QString::fromLatin1(shared.radio.heard)))
            sentToRadio += match.captured(0).toLatin1();
        QCOMPARE(sentToRadio, radioKeying);
    }

    void relayUnkeysAsItStops_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("stopped") << SIGTERM;
        QTest::newRow("killed, then the service's unkey") << SIGKILL;
    }

    // However the relay ends, the radio it keyed is unkeyed: by the relay as
    // it stops, or by "q9relay --unkey", the service's last step.
    void relayUnkeysAsItStops()
    {
        QFETCH(int, signalNumber);
        TestClient panel(startRelay());
        QTimer renewal;
        QObject::connect(&renewal, &QTimer::timeout, &panel.socket, [&panel] { panel.socket.write("TX;"); });
        renewal.start(100);
        QTRY_VERIFY_WITH_TIMEOUT(m_radio->sim.state().transmitting, ProcessTimeout);
        ::kill(pid_t(m_relay.processId()), signalNumber);
        QVERIFY(m_relay.waitForFinished(ProcessTimeout));
        if (signalNumber == SIGKILL) {
            QTest::qWait(Transmitter::Lease.count() * 2);
            QVERIFY(m_radio->sim.state().transmitting);
            QProcess unkey;
            unkey.start(QStringLiteral(Q9RELAY_PATH), {"--device", m_device, "--unkey"});
            QVERIFY(unkey.waitForFinished(ProcessTimeout) && unkey.exitCode() == 0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!m_radio->sim.state().transmitting, ProcessTimeout);
        QCOMPARE(m_radio->heard.right(signalNumber == SIGKILL ? 3 : 7),
                 signalNumber == SIGKILL ? "RX;" : "RX;AI0;");
    }

    // A relay that is killed leaves the radio reporting; the next one gives it
    // back as the first one found it, not as it finds it.
    void killedRelayLeavesTheLevelFound()
    {
        startRelay();
        QTRY_COMPARE_WITH_TIMEOUT(m_radio->heard, Takeover, ProcessTimeout);
        m_relay.kill();
        QVERIFY(m_relay.waitForFinished(ProcessTimeout));
        QVERIFY(m_radio->sim.state().autoInformation);
        m_radio->heard.clear();
        startRelay();
        QTRY_COMPARE_WITH_TIMEOUT(m_radio->heard, QByteArray("AI;"), ProcessTimeout);
    }

private:
    void plugRadio()
    {
        m_radio.reset();
        m_radio = std::make_unique<RadioOnPort>(m_device);
    }

    // q9relay on the radio's port, keeping what it knows of the radio in a
    // runtime folder of the test's own.
    quint16 startRelay(const QStringList &options = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("RUNTIME_DIRECTORY"), m_dir.filePath(QStringLiteral("run")));
        m_relay.setProcessEnvironment(environment);
        return startListening(m_relay, QStringLiteral(Q9RELAY_PATH),
                              QStringList{"--device", m_device, "--listen", "127.0.0.1:0"} + options,
                              &m_said);
    }

    // Whether the relay has logged a line that begins with the text.
    bool logged(const QString &text)
    {
        m_log += m_relay.readAllStandardError();
        return ('\n' + m_log).contains("\nq9relay: " + text.toLocal8Bit());
    }

    // What it has logged about where it listens, a line each.
    QString warned()
    {
        static const QRegularExpression warnings(QStringLiteral("^q9relay: (listening on .*)$"),
                                                 QRegularExpression::MultilineOption);
        m_log += m_relay.readAllStandardError();
        QStringList lines;
        for (const QRegularExpressionMatch &match : warnings.globalMatch(QString::fromLocal8Bit(m_log)))
            lines += match.captured(1);
        return lines.join(u'\n');
    }

    QTemporaryDir m_dir;
    QString m_device;
    std::unique_ptr<RadioOnPort> m_radio;
    QProcess m_relay;
    QByteArray m_said;
    QByteArray m_log;
};

QTEST_GUILESS_MAIN(TestRadioEnd)
#include "tst_radio_end.moc"
