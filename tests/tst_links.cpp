#include "programs.h"
#include "station.h"

#include "link/radio_link.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>
#include <sys/stat.h>

namespace {
const QString SerialFailure = QStringLiteral("Serial Communication Error - Check Comm Port and Radio Power");
const QByteArray DefaultRecord = "1,\"192.168.1.20\",\"+0\",#FALSE#,#FALSE#\r\n";
const QString Timeout
    = RecordingDialogs::Warning
    + QStringLiteral(
          "TCPiP Timeout - R9Ezuziz not found. Check iP address and make sure R9Ezuziz is running.");
const QString ErrorTail = QStringLiteral("\r\nConnect to Host First (With Correct iP address)");
// The relay keeps a panel's "AIn;" as the panel's own, off the radio, and
// checks the radio's own level before the panel hears its reports; it fences
// the probe "q92;" before the query after it.
const QByteArray LinkedThroughRelay = "id;q92;AI;q9;" + StartUpQuery + "AI;";

QString chooseServer(const QString &address)
{
    return QStringLiteral("answer %1|trigger Set_Host_Addr").arg(address);
}

// Acts with room for no more than a byte in any file; returns what was said
// on standard error meanwhile (through a pipe, which no file size limit
// stops).
QByteArray onAFullDisk(const std::function<void()> &act)
{
    int said[2];
    const int standardError = ::dup(STDERR_FILENO);
    rlimit unlimited{};
    ::getrlimit(RLIMIT_FSIZE, &unlimited);
    const rlimit full{1, unlimited.rlim_max};
    if (::pipe(said) != 0 || ::dup2(said[1], STDERR_FILENO) < 0 || ::signal(SIGXFSZ, SIG_IGN) == SIG_ERR
        || ::setrlimit(RLIMIT_FSIZE, &full) != 0)
        qFatal("cannot fill the disk");
    act();
    ::setrlimit(RLIMIT_FSIZE, &unlimited);
    ::dup2(standardError, STDERR_FILENO);
    ::close(standardError);
    ::close(said[1]);
    QByteArray text(4096, '\0');
    text.truncate(std::max<ssize_t>(0, ::read(said[0], text.data(), text.size())));
    ::close(said[0]);
    return text;
}
} // namespace

// Reaching the radio over its serial port and through the relay server:
// probes, waits, release and sign-off, a port or server that is missing,
// mute or gone; the panel's own timers, the settings that outlive a run, and
// the signals that end it.
class TestLinks : public QObject
{
    Q_OBJECT

private slots:
    // Every test but the one of time zones runs on UTC.
    void init()
    {
        qputenv("TZ", "UTC");
        tzset();
    }

    void serialProbe_data()
    {
        QTest::addColumn<SimRadio::ProbeAnswer>("answer");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("shows");
        const QString notResponding = RecordingDialogs::Warning
            + QStringLiteral("Q9 is not responding. Please check radio power and RS232 Comm port.");
        // clang-format off
        QTest::newRow("first probe") << SimRadio::ProbeAnswer::Always << Linked << QStringList()
            << "Q9_present_ind= Q9 Present|Setcomm1=checked|vfoa_edbox=07074.00|fil_bw=FL1/2500|PWR=10.0W|rit_box= 0.00 black";
        QTest::newRow("second probe") << SimRadio::ProbeAnswer::AfterFirst << "id;q92;q9;q9;" + StartUpQuery + "AI2;"
                                      << QStringList() << "Q9_present_ind= Q9 Present";
        QTest::newRow("silent") << SimRadio::ProbeAnswer::Never << QByteArray("id;q92;q9;q9;")
                                << QStringList({notResponding, SerialFailure}) << "Q9_present_ind=hidden";
        // clang-format on
    }

    // The radio answering the first probe is not sent the second; a silent one
    // gets three, then the port is closed, so the next command reports it.
    void serialProbe()
    {
        QFETCH(SimRadio::ProbeAnswer, answer);
        QFETCH(QByteArray, sent);
        QFETCH(QStringList, boxes);
        QFETCH(QString, shows);
        Station station;
        station.radio.setProbeAnswer(answer);
        station.radio.setVfoA(7'074'000);
        station.plugSerial();
        PERFORM(station, QStringLiteral("trigger Setcomm1"));
        QTRY_COMPARE(station.heard, sent);
        station.panel().SendCommand(QStringLiteral("FB;"));
        QCOMPARE(station.dialogs.messages, boxes);
        TRY_COMPARE_SHOWS(station, shows);
    }

    // Auto-connect reaches the radio before the window is first shown; choosing
    // the port in use releases the radio first and starts afresh; a port whose
    // device is missing is reported, sends nothing, and stays chosen.
    void serialPortMenu()
    {
        Station station;
        station.writeSettings("3,\"127.0.0.1\",\"+0\",#TRUE#,#FALSE#\r\n");
        station.plugSerial(3);
        station.start();
        COMPARE_SHOWS(station, "Q9_present_ind= Q9 Present|Setcomm3=checked|Auto_comm_con=checked");
        QTRY_VERIFY(station.heard.endsWith("AI2;"));
        station.plugSerial(1);
        QCOMPARE(station.sentDuring(QStringLiteral("trigger Setcomm1")),
                 "AI0;id;q92;q9;" + StartUpQuery + "AI2;");
        COMPARE_SHOWS(station, "Setcomm1=checked|Setcomm3=unchecked");

        QFile::link(station.path(QStringLiteral("no-such-device")), station.path(QStringLiteral("com5")));
        station.heard.clear();
        PERFORM(station, QStringLiteral("trigger Setcomm5"));
        QTRY_COMPARE(station.heard, QByteArray("AI0;"));
        QCOMPARE(station.dialogs.messages,
                 QStringList{RecordingDialogs::Warning
                             + QStringLiteral("Comm Port in use or invalid. Please chose another port")});
        PERFORM(station, QStringLiteral("trigger Auto_comm_con|trigger exit_cmd"));
        COMPARE_SHOWS(station, "Setcomm5=checked|Setcomm1=unchecked");
        QCOMPARE(station.settings(), QByteArray("5,\"127.0.0.1\",\"+0\",#FALSE#,#FALSE#\r\n"));
    }

    // The poll starts only once a radio has answered, at 100 ms on the serial
    // link and 250 ms on the server link; a second click or a release stops it.
    // The adapter pulled out under the poll and a TUNE: one serial failure box
    // tells it, the radio is no longer shown, the poll stops and TUNE ends, and
    // choosing the port again sends the vanished link nothing, so no box
    // follows; pulled out just before a send, that send's box is the one. The
    // relay gone under the poll: after the socket's own box the link is no
    // longer shown either, and the release at exit sends nothing, so no box
    // follows. The lamps are out before the box opens.
    void smeterPollAndLinksLostUnderIt()
    {
        Station station;
        PERFORM(station, QStringLiteral("click SM_en"));
        COMPARE_SHOWS(station, "Timer1=stopped|SM_en=SMeter face");
        PERFORM(station, QStringLiteral("link serial|click SM_en"));
        COMPARE_SHOWS(station, "Timer1=every 100 ms|SM_en=SMeter green");
        QTRY_VERIFY(station.heard.count("SM;") >= 3);
        QCOMPARE(station.sentDuring(QStringLiteral("click SM_en")), QByteArray());
        COMPARE_SHOWS(station, "Timer1=stopped|SM_en=SMeter face");
        PERFORM(station, QStringLiteral("click SM_en|trigger Setcomm1"));
        COMPARE_SHOWS(station, "Timer1=stopped|SM_en=SMeter face");

        const QString serialDown = QStringLiteral("Timer1=stopped|SM_en=SMeter face|Q9_present_ind=hidden");
        QString shownWithTheBox;
        station.dialogs.whileMessageOpen = [&] { shownWithTheBox = station.shows(serialDown); };
        station.radio.setTuneDuration(std::chrono::minutes(1));
        station.heard.clear();
        const auto pullAtThirdPoll = connect(&station, &Station::heardChunk, this, [&station] {
            if (station.heard.count("IF;") == 3)
                QMetaObject::invokeMethod(&station, &Station::unplugSerial, Qt::QueuedConnection);
        });
        PERFORM(station, QStringLiteral("click SM_en|click Tune"));
        disconnect(pullAtThirdPoll);
        QCOMPARE(station.dialogs.messages, QStringList{SerialFailure});
        QCOMPARE(shownWithTheBox, serialDown);
        COMPARE_SHOWS(station, "Tune=TUNE green");
        station.plugSerial();
        QCOMPARE(station.sentDuring(QStringLiteral("trigger Setcomm1")),
                 "id;q92;q9;" + StartUpQuery + "AI2;");
        PERFORM(station, QStringLiteral("click SM_en"));
        station.unplugSerial();
        station.panel().SendCommand(QStringLiteral("SM;"));
        QCOMPARE(station.dialogs.messages, QStringList({SerialFailure, SerialFailure}));

        const QString address = loopbackAddress();
        PERFORM(station, "link server " + address + "|click SM_en");
        COMPARE_SHOWS(station, "Timer1=every 250 ms|SM_en=SMeter green");
        const QString linkDown
            = QStringLiteral("Server_Conn=hidden|Q9_present_ind=hidden|Timer1=stopped|SM_en=SMeter face");
        station.dialogs.whileMessageOpen = [&] { shownWithTheBox = station.shows(linkDown); };
        station.stopRelay();
        QTRY_COMPARE(station.dialogs.messages.size(), 3);
        QVERIFY(station.dialogs.messages.last().endsWith(ErrorTail));
        QCOMPARE(shownWithTheBox, linkDown);
        PERFORM(station, QStringLiteral("trigger exit_cmd"));
        QCOMPARE(station.dialogs.messages.size(), 3);
        QVERIFY(station.settings().startsWith("1,\"" + address.toLatin1() + '"'));
    }

    void firstStartShowsUtc_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("offset");
        QTest::addColumn<int>("minutesAhead");
        // clang-format off
        QTest::newRow("UTC") << QByteArray("UTC") << "+0" << 0;
        // A part hour gets the nearest whole hour, a half hour going towards zero.
        QTest::newRow("UTC+5:30") << QByteArray("XXX-5:30") << "-5" << 30;
        QTest::newRow("UTC+5:45") << QByteArray("XXX-5:45") << "-6" << -15;
        QTest::newRow("UTC-3:30") << QByteArray("XXX+3:30") << "+3" << -30;
        // clang-format on
    }

    // A first start writes and uses the offset that shows UTC in the time
    // zone, here at 01:10 UTC, late the evening before in the west. The offset
    // box proposes the offset in use; cancelling it stores an empty offset,
    // and the clock shows local time from its next tick.
    void firstStartShowsUtc()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QString, offset);
        QFETCH(int, minutesAhead);
        qputenv("TZ", zone);
        tzset();
        const QDateTime utc(QDate(2024, 1, 15), QTime(1, 10), Qt::UTC);
        Station station;
        station.start().setLocalTimeSource([&utc] { return utc.toLocalTime().time(); });
        QCOMPARE(station.settings(), "1,\"192.168.1.20\",\"" + offset.toLatin1() + "\",#FALSE#,#FALSE#\r\n");
        TRY_COMPARE_SHOWS(station, "utc_time=" + utc.addSecs(60 * minutesAhead).toString(u"HH:mm:ss"));
        PERFORM(station, QStringLiteral("trigger set_UTC"));
        QCOMPARE(station.dialogs.inputs,
                 QStringList{"Enter UTC +/- Offset value.|Set UTC Clock Offset|" + offset});
        TRY_COMPARE_SHOWS(station, "utc_time=" + utc.toLocalTime().toString(u"HH:mm:ss"));
    }

    // What the file holds once the panel has started, run the steps and ended
    // (by the menu's Exit unless the steps close the window), and what the
    // panel showed from it. The panel never opens a settings path that is no
    // plain file, so a FIFO cannot hang it.
    void settingsFile_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QString>("shows");
        const auto row = [](const char *name, const QByteArray &before, const QByteArray &after,
                            const char *shows = "", const char *steps = "") {
            QTest::newRow(name) << before << QString::fromLatin1(steps) << after
                                << QString::fromLatin1(shows);
        };
        const QByteArray kept = ",\"10.1.1.1\",\"-5\",#FALSE#,#TRUE#\r\n";
        // clang-format off
        row("first start", "", DefaultRecord, "Setcomm1=checked|Auto_comm_con=unchecked|debug_on=unchecked|Text1=hidden");
        row("read back", "3" + kept, "3" + kept, "Setcomm3=checked|Setcomm1=unchecked|debug_on=checked|Text1=");
        row("port beyond the menu", "12" + kept, "12" + kept, "Setcomm1=unchecked");
        row("auto-connect twice", "", DefaultRecord, "Q9_present_ind=hidden", "trigger Auto_comm_con|trigger Auto_comm_con");
        row("exit saves", "", "1,\"192.168.1.20\",\"-5\",#TRUE#,#TRUE#\r\n", "",
            "answer -5|trigger set_UTC|trigger debug_on|trigger Auto_comm_con");
        row("closing saves", "", "1,\"192.168.1.20\",\"+2\",#FALSE#,#FALSE#\r\n", "", "answer +2|trigger set_UTC|close");
        row("quote typed", "", "1,\"192.168.1.20\",\"ab\",#FALSE#,#FALSE#\r\n", "", "answer a\"b|trigger set_UTC");
        row("spaces", " 4 , \"\" ,\"+8\" , #FALSE# ,#TRUE#\r\n", "4,\"\",\"+8\",#FALSE#,#TRUE#\r\n");
        // A field that cannot be read takes the default; the others are kept.
        row("cut short", "4,\"10.0.0.9\"", "4,\"10.0.0.9\",\"+0\",#FALSE#,#FALSE#\r\n", "Setcomm4=checked");
        row("byte-order mark", "\xEF\xBB\xBF" "3" + kept, "3" + kept, "Setcomm3=checked");
        row("port too large", "32768" + kept, "1" + kept, "Setcomm1=checked");
        row("quoted port", "\"1\"" + kept, "1" + kept, "debug_on=checked");
        row("port 3abc", "3abc" + kept, "1" + kept, "Setcomm1=checked");
        row("missing quote", "4,\"10.1.1.1\r\n\"-5\",#FALSE#,#TRUE#", "4" + kept);
        row("garbage", "\x7f\xfe;;garbage", DefaultRecord, "Setcomm1=checked");
        // A path that is not a plain file is not read, waited on or written.
        row("FIFO", "<FIFO>", "<not a file>", "Setcomm1=checked");
        // A disk too full for the new record leaves the old file as it was.
        row("disk full", "<disk full>", "3" + kept, "Setcomm3=checked", "answer +2|trigger set_UTC");
        // clang-format on
    }

    void settingsFile()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, steps);
        QFETCH(QByteArray, after);
        QFETCH(QString, shows);
        Station station;
        const QString path = station.path(QStringLiteral("d9iduzid.ini"));
        const bool diskFull = before == "<disk full>";
        if (before == "<FIFO>")
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (!before.isEmpty())
            station.writeSettings(diskFull ? after : before);
        station.start();
        const QString shown = station.shows(shows);
        PERFORM(station, steps);
        QString failed;
        const auto exit = [&] { failed = station.perform(QStringLiteral("trigger exit_cmd")); };
        const QByteArray complaint = diskFull ? onAFullDisk(exit) : QByteArray();
        if (!diskFull)
            exit();
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        QCOMPARE(station.settings(), after);
        QCOMPARE(complaint.startsWith("q9remote: cannot save the settings"), diskFull);
        QCOMPARE(shown, shows);
        QCOMPARE(station.dialogs.messages, QStringList());
    }

    void signalEndsThePanelAsClosingDoes_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<bool>("boxOpen");
        QTest::newRow("SIGTERM") << SIGTERM << false;
        QTest::newRow("SIGINT twice") << SIGINT << false;
        QTest::newRow("SIGHUP") << SIGHUP << false;
        QTest::newRow("box open") << SIGTERM << true;
    }

    // The program itself, auto-connecting at start and then stopped by a
    // signal: the radio is released and the settings written, as at a close,
    // even with a box open that nobody will answer (the radio silent, with
    // nothing to release); a second signal does not cut that short.
    void signalEndsThePanelAsClosingDoes()
    {
        QFETCH(int, signalNumber);
        QFETCH(bool, boxOpen);
        const QByteArray heardBefore = boxOpen ? "q9;q9;" : "AI2;", heardAfter = boxOpen ? "" : "AI0;";
        Station station;
        station.radio.setProbeAnswer(boxOpen ? SimRadio::ProbeAnswer::Never : SimRadio::ProbeAnswer::Always);
        station.writeSettings("1,\"10.0.0.9\",\"-3\",#TRUE#,#TRUE#");
        station.plugSerial();
        QProcess panel;
        panel.setWorkingDirectory(station.path(QString()));
        panel.start(QStringLiteral(Q9REMOTE_PATH),
                    {QStringLiteral("-platform"), QStringLiteral("offscreen")});
        QTRY_VERIFY_WITH_TIMEOUT(station.heard.endsWith(heardBefore), ProcessTimeout);
        station.heard.clear();
        if (signalNumber == SIGINT)
            ::kill(pid_t(panel.processId()), SIGINT);
        QVERIFY(stopWith(panel, signalNumber));
        QTRY_COMPARE(station.heard, heardAfter);
        QCOMPARE(station.settings(), QByteArray("1,\"10.0.0.9\",\"-3\",#TRUE#,#TRUE#\r\n"));
    }

    // The program asked what it is, with no display and no platform named in
    // its environment: it answers and ends, without trying to show a window.
    void versionAndHelpNeedNoDisplay()
    {
        const auto answer = [](const QString &option) {
            QProcess panel;
            panel.setProcessEnvironment(QProcessEnvironment());
            panel.start(QStringLiteral(Q9REMOTE_PATH), {option});
            const bool answered = panel.waitForFinished(ProcessTimeout) && panel.exitCode() == 0
                && panel.readAllStandardError().isEmpty();
            return answered ? QString::fromLatin1(panel.readAllStandardOutput())
                            : QStringLiteral("no answer");
        };
        QCOMPARE(answer(QStringLiteral("--version")), QStringLiteral("q9remote 1.0\n"));
        QVERIFY(answer(QStringLiteral("--help")).contains(u"settings are in d9iduzid.ini"));
    }

    void connectsAndSignsOff_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<quint16>("port");
        QTest::newRow("address alone") << loopbackAddress() << quint16(2300);
        QTest::newRow("host:port") << loopbackAddress() << quint16(0);
        QTest::newRow("[IPv6 address]:port") << "[::1]" << quint16(0);
    }

    // The box proposes the saved address; choosing the server turns auto-connect
    // off and unchecks the ports; a send is complete once the socket has handed
    // it on; the sign-off follows the last send, and the address is saved as
    // typed, with a port other than 2300 as at the end of a tunnel.
    void connectsAndSignsOff()
    {
        QFETCH(QString, host);
        QFETCH(quint16, port);
        if (host.startsWith(u'[') && !hasIpv6Loopback())
            QSKIP("this machine has no IPv6 loopback");
        Station station;
        station.startRelay(host, port);
        const QByteArray address = (port ? host : station.relay()->endpoint()).toLatin1();
        station.writeSettings("2,\"" + address + "\",\"+8\",#TRUE#,#TRUE#\r\n");
        QFile::link(station.path(QStringLiteral("missing")), station.path(QStringLiteral("com2")));
        station.start();
        station.dialogs.messages.clear();
        QCOMPARE(station.sentDuring(chooseServer(QString::fromLatin1(address))), LinkedThroughRelay);
        QCOMPARE(station.dialogs.inputs.last(),
                 QStringLiteral("Enter Q9 Remote Server iP Address if needed|Host iP|") + address);
        TRY_COMPARE_SHOWS(station,
                          "Server_Conn=Q9 Server Linked|Q9_present_ind= Q9 Present|Auto_comm_con=unchecked|"
                          "Setcomm2=unchecked|vfoa_edbox=14060.00");
        QVERIFY(station.shows(QStringLiteral("Text1=")).startsWith(u"Text1=R9Ezuziz Connected"));
        QTRY_VERIFY(station.panel().globals().TcpSendComplete);
        station.panel().SendCommand(QStringLiteral("MD1;FW;"));
        QVERIFY(!station.panel().globals().TcpSendComplete);
        QTRY_VERIFY(station.panel().globals().TcpSendComplete);
        QTRY_VERIFY(station.heard.endsWith("MD1;AI;FW;"));

        station.heard.clear();
        PERFORM(station, QStringLiteral("trigger exit_cmd"));
        QTRY_VERIFY(station.relayLog.last().endsWith(u"signed off"));
        QCOMPARE(station.heard, QByteArray());
        QCOMPARE(station.settings(), "2,\"" + address + "\",\"+8\",#FALSE#,#TRUE#\r\n");
        QCOMPARE(station.dialogs.messages, QStringList());
    }

    // A logging or digital-mode program reaches the radio through Hamlib on
    // the relay's CAT port while the panel polls it through the panel's
    // port: Hamlib reads and sets the frequency, and the panel shows what
    // Hamlib set.
    void hamlibBesideThePanel()
    {
        Station station;
        PERFORM(station, "link server " + loopbackAddress() + "|click SM_en");
        QVERIFY(station.relay()->listen(QStringLiteral("127.0.0.1:0"), Session::Protocol::Cat));
        QProcess rigctl;
        rigctl.start(QStringLiteral("rigctl"),
                     {"-m", "2014", "-r", station.relay()->endpoint(Session::Protocol::Cat), "f", "F",
                      "7040000", "f"});
        QTRY_VERIFY_WITH_TIMEOUT(rigctl.state() == QProcess::NotRunning, ProcessTimeout);
        QCOMPARE(rigctl.readAllStandardOutput(), QByteArray("14060000\n7040000\n"));
        TRY_COMPARE_SHOWS(station, "vfoa_edbox=07040.00|Timer1=every 250 ms");
        QCOMPARE(station.dialogs.messages, QStringList());
    }

    void bareServer_data()
    {
        QTest::addColumn<QByteArray>("greeting");
        QTest::addColumn<bool>("radioAnswers");
        QTest::addColumn<QByteArray>("heard");
        QTest::addColumn<QStringList>("boxes");
        const QString notResponding = RecordingDialogs::Warning
            + QStringLiteral("Q9 is not responding. Please check radio power and Host RS232 Comm port.");
        // clang-format off
        QTest::newRow("never greets") << QByteArray() << true << QByteArray() << QStringList{Timeout};
        QTest::newRow("turns the panel away") << QByteArray("Q9 relay busy: 1 panel already served\r\n") << true
                                              << QByteArray() << QStringList{"Q9 relay busy: 1 panel already served" + ErrorTail, Timeout};
        QTest::newRow("ignores the sign-off") << QByteArray("!!;") << true << Linked + "AI0;##" << QStringList();
        QTest::newRow("radio silent") << QByteArray("!!;") << false << QByteArray("id;q92;q9;q9;##")
                                      << QStringList{notResponding};
        // clang-format on
    }

    // A server that only greets, if at all, and passes on the radio's answers
    // to the probes, if any: one that never greets gets no probe and is closed
    // after the timeout; one that turns the panel away with a line of text
    // and closes is told by that line, then the timeout, and its line is no
    // reply; one that keeps the connection after the sign-off is closed by
    // the panel; with the radio silent behind it the link stays, and its
    // release is the sign-off alone.
    void bareServer()
    {
        QFETCH(QByteArray, greeting);
        QFETCH(bool, radioAnswers);
        QFETCH(QByteArray, heard);
        QFETCH(QStringList, boxes);
        const QString address = loopbackAddress();
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress(address), 2300));
        const QHash<QByteArray, QByteArray> answers = {{"id;", "ID900;"}, {"q9;", "Q91;"}};
        QByteArray received;
        connect(&server, &QTcpServer::newConnection, this, [&] {
            QTcpSocket *client = server.nextPendingConnection();
            client->write(greeting);
            if (greeting.endsWith('\n'))
                client->disconnectFromHost();
            connect(client, &QTcpSocket::readyRead, client, [&, client] {
                received += client->readAll();
                client->write(radioAnswers ? answers.value(received.right(3)) : QByteArray());
            });
        });
        Station station;
        PERFORM(station, chooseServer(address));
        QCOMPARE(station.dialogs.messages, boxes);
        COMPARE_SHOWS(station,
                      greeting.startsWith("!!") ? "Server_Conn=Q9 Server Linked" : "Server_Conn=hidden");
        PERFORM(station, QStringLiteral("trigger Setcomm1|reply FA00007000000;"));
        COMPARE_SHOWS(station, "Server_Conn=hidden|vfoa_edbox=07000.00");
        QTRY_COMPARE(server.findChild<QTcpSocket *>()->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(received, heard);
    }

    // The radio on the serial port, never told to stop reporting, goes on
    // talking while the server link probes a radio behind a slow line: its
    // text reaches the port, but must neither end the server's waits nor
    // reach the panel. Then another
    // address, where nobody listens: each try shows the socket's own error,
    // then the timeout, without counting the earlier greeting. A cancelled
    // box leaves an empty address, which is kept.
    void serverLinkBesideTheSerialRadioThenNobody()
    {
        const QString address = loopbackAddress();
        Station station;
        PERFORM(station, QStringLiteral("link serial"));
        FIND_CONTROL(RadioLink, serialPort, station, "Comm1");
        station.startRelay(address);
        station.radio.setPaced(true);
        QTimer chatter;
        connect(&chatter, &QTimer::timeout, &station, [&station] { station.writeSerial("FA00007000000;"); });
        qsizetype chatterReceived = 0;
        connect(serialPort, &RadioLink::received, &station,
                [&](const QByteArray &bytes) { chatterReceived += bytes.count("FA00007000000;"); });
        chatter.start(2);
        const QByteArray sent = station.sentDuring(chooseServer(address));
        chatter.stop();
        QCOMPARE(sent, LinkedThroughRelay);
        QCOMPARE(station.dialogs.messages, QStringList());
        QVERIFY(chatterReceived > 0);
        QVERIFY(station.shows(QStringLiteral("vfoa_edbox=")) != u"vfoa_edbox=07000.00");

        PERFORM(station,
                chooseServer(loopbackAddress()) + QStringLiteral("|trigger Set_Host_Addr|trigger exit_cmd"));
        const QStringList boxes = station.dialogs.messages;
        QCOMPARE(boxes.size(), 4);
        for (const QString &error : {boxes.at(0), boxes.at(2)})
            QVERIFY(error.endsWith(ErrorTail) && error.size() > ErrorTail.size() && !error.startsWith(u'!'));
        QCOMPARE(QStringList({boxes.at(1), boxes.at(3)}), QStringList({Timeout, Timeout}));
        COMPARE_SHOWS(station, "Server_Conn=hidden");
        QCOMPARE(station.settings(), QByteArray("1,\"\",\"+0\",#FALSE#,#FALSE#\r\n"));
    }
};

QTEST_MAIN(TestLinks)
#include "tst_links.moc"
