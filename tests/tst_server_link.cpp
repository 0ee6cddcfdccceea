#include "station.h"

#include <QPlainTextEdit>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

// Reaching the radio through the relay server: its greeting, the probes and
// waits, the sign-off, and a server that is missing, mute or gone.
class TestServerLink : public QObject
{
    Q_OBJECT

private slots:
    void connectsAndSignsOff();
    void bareServer_data();
    void bareServer();
    void nobodyThere();
    void serialRadioNeverDisturbsIt();
    void radioSilentBehindIt();
    void relayGoneUnderIt();
    void serverOnAnotherPort_data();
    void serverOnAnotherPort();
};

namespace {

const QString Timeout
    = RecordingDialogs::Warning
    + QStringLiteral(
          "TCPiP Timeout - R9Ezuziz not found. Check iP address and make sure R9Ezuziz is running.");
const QString ErrorTail = QStringLiteral("\r\nConnect to Host First (With Correct iP address)");
const QByteArray Linked = "id;q92;q9;" + StartUpQuery + "AI2;";

QString chooseServer(const QString &address)
{
    return QStringLiteral("answer %1|trigger Set_Host_Addr").arg(address);
}

} // namespace

// The box proposes the saved address; choosing the server turns auto-connect
// off and unchecks the ports; a send is complete once the socket has handed
// it on; the sign-off follows the last send, and the typed address is saved.
void TestServerLink::connectsAndSignsOff()
{
    const QString address = loopbackAddress();
    Station station;
    station.writeSettings("2,\"" + address.toLatin1() + "\",\"+8\",#TRUE#,#TRUE#\r\n");
    QFile::link(station.path(QStringLiteral("missing")), station.path(QStringLiteral("com2")));
    station.start();
    station.dialogs.messages.clear();
    station.startRelay(address);
    QCOMPARE(station.sentDuring(chooseServer(address)), Linked);
    QCOMPARE(station.dialogs.inputs.last(),
             QStringLiteral("Enter Q9 Remote Server iP Address if needed|Host iP|") + address);
    TRY_COMPARE_SHOWS(station,
                      "Server_Conn=Q9 Server Linked|Q9_present_ind= Q9 Present|Auto_comm_con=unchecked|"
                      "Setcomm2=unchecked|vfoa_edbox=14060.00");
    QVERIFY(station.control<QPlainTextEdit>("Text1")->toPlainText().startsWith(u"R9Ezuziz Connected"));
    QTRY_VERIFY(station.panel().globals().TcpSendComplete);
    station.panel().SendCommand(QStringLiteral("MD1;FW;"));
    QVERIFY(!station.panel().globals().TcpSendComplete);
    QTRY_VERIFY(station.panel().globals().TcpSendComplete);

    station.heard.clear();
    station.perform(QStringLiteral("trigger exit_cmd"));
    QTRY_VERIFY(station.relayLog.last().endsWith(u"signed off"));
    QCOMPARE(station.heard, QByteArray("AI0;"));
    QCOMPARE(station.settings(), "2,\"" + address.toLatin1() + "\",\"+8\",#FALSE#,#TRUE#\r\n");
    QCOMPARE(station.dialogs.messages, QStringList());
}

void TestServerLink::bareServer_data()
{
    QTest::addColumn<QByteArray>("greeting");
    QTest::addColumn<QByteArray>("heard");
    QTest::addColumn<QStringList>("boxes");
    QTest::newRow("never greets") << QByteArray() << QByteArray() << QStringList{Timeout};
    QTest::newRow("ignores the sign-off") << QByteArray("!!;") << Linked + "AI0;##" << QStringList();
}

// A server that only greets, if at all, and answers the probes: one that
// never greets gets no probe and is closed after the timeout; one that
// keeps the connection after the sign-off is closed by the panel.
void TestServerLink::bareServer()
{
    QFETCH(QByteArray, greeting);
    QFETCH(QByteArray, heard);
    QFETCH(QStringList, boxes);
    const QString address = loopbackAddress();
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress(address), 2300));
    QByteArray received;
    connect(&server, &QTcpServer::newConnection, this, [&] {
        QTcpSocket *client = server.nextPendingConnection();
        client->write(greeting);
        connect(client, &QTcpSocket::readyRead, client, [&, client] {
            received += client->readAll();
            client->write(received.endsWith("id;") ? "ID900;" : received.endsWith("q9;") ? "Q91;" : "");
        });
    });
    Station station;
    station.perform(chooseServer(address) + QStringLiteral("|trigger Setcomm1"));
    QCOMPARE(station.dialogs.messages.mid(0, boxes.size()), boxes);
    COMPARE_SHOWS(station, "Server_Conn=hidden");
    QTRY_COMPARE(server.findChild<QTcpSocket *>()->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(received, heard);
}

// Nobody listening: the socket's own error, then the timeout. A cancelled
// box leaves an empty address, which is kept.
void TestServerLink::nobodyThere()
{
    Station station;
    station.perform(chooseServer(loopbackAddress())
                    + QStringLiteral("|trigger Set_Host_Addr|trigger exit_cmd"));
    const QStringList boxes = station.dialogs.messages;
    QCOMPARE(boxes.size(), 4);
    for (const QString &error : {boxes.at(0), boxes.at(2)})
        QVERIFY(error.endsWith(ErrorTail) && error.size() > ErrorTail.size() && !error.startsWith(u'!'));
    QCOMPARE(QStringList({boxes.at(1), boxes.at(3)}), QStringList({Timeout, Timeout}));
    QCOMPARE(station.settings(), QByteArray("1,\"\",\"+8\",#FALSE#,#FALSE#\r\n"));
}

// The radio on the serial port, never told to stop reporting, goes on
// talking while the server link probes a radio behind a slow line: that
// must neither end the server's waits nor reach the panel. A second try
// with the relay gone does not count the earlier greeting.
void TestServerLink::serialRadioNeverDisturbsIt()
{
    const QString address = loopbackAddress();
    Station station;
    station.connectSerial();
    station.startRelay(address);
    station.radio.setPaced(true);
    QTimer chatter;
    connect(&chatter, &QTimer::timeout, &station, [&station] { station.writeSerial("FA00007000000;"); });
    chatter.start(2);
    const QByteArray sent = station.sentDuring(chooseServer(address));
    chatter.stop();
    QCOMPARE(sent, Linked);
    QCOMPARE(station.dialogs.messages, QStringList());
    QVERIFY(station.shows(QStringLiteral("vfoa_edbox=")) != u"vfoa_edbox=07000.00");

    station.stopRelay();
    station.dialogs.messages.clear();
    station.perform(chooseServer(address));
    QCOMPARE(station.dialogs.messages.last(), Timeout);
    COMPARE_SHOWS(station, "Server_Conn=hidden");
}

// The server is reachable, only the radio behind it is silent: the link
// stays, and its release is the sign-off alone.
void TestServerLink::radioSilentBehindIt()
{
    const QString address = loopbackAddress();
    Station station;
    station.radio.setProbeAnswer(SimRadio::ProbeAnswer::Never);
    station.startRelay(address);
    QCOMPARE(station.sentDuring(chooseServer(address)), QByteArray("id;q92;q9;q9;"));
    QCOMPARE(station.dialogs.messages,
             QStringList{RecordingDialogs::Warning
                         + QStringLiteral(
                             "Q9 is not responding. Please check radio power and Host RS232 Comm port.")});
    COMPARE_SHOWS(station, "Server_Conn=Q9 Server Linked");
    station.heard.clear();
    station.perform(QStringLiteral("trigger exit_cmd"));
    QTRY_VERIFY(!station.relay()->hasClient());
    QCOMPARE(station.heard, QByteArray());
    QVERIFY(station.relayLog.last().endsWith(u"signed off"));
    COMPARE_SHOWS(station, "Server_Conn=hidden");
}

// After the socket's own box the panel no longer shows a link and stops
// polling it, and the release at exit sends nothing, so no box follows.
void TestServerLink::relayGoneUnderIt()
{
    const QString address = loopbackAddress();
    Station station;
    station.connectServer(address);
    station.perform(QStringLiteral("click SM_en"));
    station.stopRelay();
    QTRY_COMPARE(station.dialogs.messages.size(), 1);
    QVERIFY(station.dialogs.messages.first().endsWith(ErrorTail));
    COMPARE_SHOWS(station, "Server_Conn=hidden|Q9_present_ind=hidden|Timer1=stopped|SM_en=SMeter face");
    station.perform(QStringLiteral("trigger exit_cmd"));
    QCOMPARE(station.dialogs.messages.size(), 1);
    QVERIFY(station.settings().startsWith("1,\"" + address.toLatin1() + '"'));
}

void TestServerLink::serverOnAnotherPort_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("host:port") << loopbackAddress();
    QTest::newRow("[IPv6 address]:port") << "[::1]";
}

// A relay on a port other than 2300, as at the end of a tunnel; the text is
// saved as typed.
void TestServerLink::serverOnAnotherPort()
{
    QFETCH(QString, address);
    QTcpServer ipv6Probe;
    if (address.startsWith(u'[') && !ipv6Probe.listen(QHostAddress::LocalHostIPv6))
        QSKIP("this machine has no IPv6 loopback");
    Station station;
    station.startRelay(address, 0);
    const QString typed = station.relay()->endpoint();
    station.connectServer(typed);
    COMPARE_SHOWS(station, "Server_Conn=Q9 Server Linked|Q9_present_ind= Q9 Present");
    station.perform(QStringLiteral("trigger exit_cmd"));
    QCOMPARE(station.settings(), "1,\"" + typed.toLatin1() + "\",\"+8\",#FALSE#,#FALSE#\r\n");
}

QTEST_MAIN(TestServerLink)
#include "tst_server_link.moc"
