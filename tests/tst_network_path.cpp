#include "network_path.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <algorithm>
#include <tuple>

namespace {
constexpr int Sent = 200;
// What a loaded machine may add to a passage.
constexpr int Slack = 1000;

bool bindIn(NetworkPath &path, NetworkPath::Side side, QUdpSocket &socket)
{
    const bool bound = path.enter(side) && socket.bind(QHostAddress(path.address(side)));
    path.leave();
    return bound;
}
} // namespace

// The path the audio is tested on: unless it really delays, loses, cuts
// and blocks, those tests prove nothing.
class TestNetworkPath : public QObject
{
    Q_OBJECT

private slots:
    void emulatesThePath_data()
    {
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<double>("lossPercent");
        QTest::addColumn<int>("outageMs");
        QTest::addColumn<bool>("udp");
        QTest::addColumn<int>("fewest");
        QTest::addColumn<int>("most");
        QTest::newRow("clean") << 0 << 0.0 << 0 << true << Sent << Sent;
        QTest::newRow("150 ms each way") << 150 << 0.0 << 0 << true << Sent << Sent;
        QTest::newRow("half lost") << 0 << 50.0 << 0 << true << Sent * 3 / 10 << Sent * 7 / 10;
        QTest::newRow("cut for a second") << 0 << 0.0 << 1000 << true << 0 << 0;
        QTest::newRow("TCP alone") << 0 << 0.0 << 0 << false << 0 << 0;
    }

    // Datagrams from the near end to an echo at the far end, paced as a
    // stream is: as many arrive as the path lets through, none during an
    // outage. Then, unless the path loses some, one more comes back after
    // twice the delay, once any outage is over, or never when UDP is
    // blocked; TCP still connects then.
    void emulatesThePath()
    {
        QFETCH(int, delayMs);
        QFETCH(double, lossPercent);
        QFETCH(int, outageMs);
        QFETCH(bool, udp);
        QFETCH(int, fewest);
        QFETCH(int, most);
        NetworkPath path;
        QString problem;
        if (!path.open(&problem, {delayMs, 0, lossPercent}))
            QSKIP(qPrintable(problem));
        path.passUdp(udp);
        QUdpSocket echo;
        QUdpSocket sender;
        QVERIFY(bindIn(path, NetworkPath::Far, echo));
        QVERIFY(bindIn(path, NetworkPath::Near, sender));
        int arrived = 0;
        connect(&echo, &QUdpSocket::readyRead, &echo, [&] {
            while (echo.hasPendingDatagrams()) {
                const QNetworkDatagram datagram = echo.receiveDatagram();
                ++arrived;
                echo.writeDatagram(datagram.makeReply(datagram.data()));
            }
        });
        QElapsedTimer sincePing;
        qint64 roundTrip = -1;
        connect(&sender, &QUdpSocket::readyRead, &sender, [&] {
            while (sender.hasPendingDatagrams()) {
                if (sender.receiveDatagram().data() == "ping")
                    roundTrip = sincePing.elapsed();
            }
        });
        const auto send = [&](const QByteArray &bytes) {
            sender.writeDatagram(bytes, QHostAddress(path.address(NetworkPath::Far)), echo.localPort());
        };

        path.cutFor(std::chrono::milliseconds(outageMs));
        QElapsedTimer sinceCut;
        sinceCut.start();
        for (int i = 1; i <= Sent; ++i) {
            send("stream");
            if (i % 10 == 0)
                QTest::qWait(1);
        }
        // Done once all that may pass did, or once anything did where nothing may.
        std::ignore = QTest::qWaitFor([&] { return arrived >= std::max(most, 1); }, delayMs + Slack);
        QVERIFY2(arrived >= fewest && arrived <= most, qPrintable(QString::number(arrived)));
        if (lossPercent == 0) {
            QTest::qWait(std::max(0, int(outageMs - sinceCut.elapsed())));
            sincePing.start();
            send("ping");
            QCOMPARE(QTest::qWaitFor([&] { return roundTrip >= 0; }, 2 * delayMs + Slack), udp);
            QVERIFY2(!udp || roundTrip >= 2 * delayMs, qPrintable(QString::number(roundTrip)));
        }
        if (!udp) {
            QTcpServer listener;
            QTcpSocket connector;
            QVERIFY(path.enter(NetworkPath::Far));
            QVERIFY(listener.listen(QHostAddress(path.address(NetworkPath::Far))));
            path.leave();
            QVERIFY(path.enter(NetworkPath::Near));
            connector.connectToHost(path.address(NetworkPath::Far), listener.serverPort());
            path.leave();
            QTRY_COMPARE(connector.state(), QAbstractSocket::ConnectedState);
        }
    }
};

QTEST_MAIN(TestNetworkPath)
#include "tst_network_path.moc"
