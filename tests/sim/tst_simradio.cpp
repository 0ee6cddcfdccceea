#include "sim_radio.h"

#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include <algorithm>
#include <utility>

using namespace std::chrono_literals;

namespace {

const QByteArray AllQueries = "FA;FB;FR;FT;FW;GT;MD;KS;SQ;PA;RA;AN;NB;PC;IF;AI;";
const QByteArray IdleStatus = "IF00014060000     +000000 0002000001 ;";
const QByteArray TuningStatus = "IF00014060000     +000000 0012000001 ;";

// A radio with everything it sends collected in `sent`.
struct Radio
{
    Radio()
    {
        QObject::connect(&sim, &SimRadio::output, &sim, [this](const QByteArray &bytes) { sent += bytes; });
    }

    QByteArray ask(const QByteArray &commands)
    {
        sent.clear();
        sim.receive(commands);
        return std::exchange(sent, {});
    }

    QList<int> meterReadings(int count)
    {
        static const QRegularExpression form(QStringLiteral("^SM(\\d{4});$"));
        QList<int> readings;
        for (int i = 0; i < count; ++i) {
            const auto match = form.match(QString::fromLatin1(ask("SM;")));
            if (!match.hasMatch())
                return {};
            readings.append(match.captured(1).toInt());
        }
        return readings;
    }

    SimRadio sim;
    QByteArray sent;
};

} // namespace

class TestSimRadio : public QObject
{
    Q_OBJECT

private slots:
    void queries_data();
    void queries();
    void statusRecordExamples();
    void commandsChangeState_data();
    void commandsChangeState();
    void badCommandsAreRejected_data();
    void badCommandsAreRejected();
    void framing();
    void autoInformation();
    void probes_data();
    void probes();
    void silent();
    void shortPowerForm();
    void tuneCycle();
    void cwKeying();
    void signalMeter();
    void pacedOutput();
};

void TestSimRadio::queries_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("vfo a") << QByteArray("FA;") << QByteArray("FA00014060000;");
    QTest::newRow("vfo b") << QByteArray("FB;") << QByteArray("FB00007030000;");
    QTest::newRow("receive vfo") << QByteArray("FR;") << QByteArray("FR0;");
    QTest::newRow("transmit vfo") << QByteArray("FT;") << QByteArray("FT0;");
    QTest::newRow("filter") << QByteArray("FW;") << QByteArray("FW250010;");
    QTest::newRow("agc") << QByteArray("GT;") << QByteArray("GT0021;");
    QTest::newRow("mode") << QByteArray("MD;") << QByteArray("MD2;");
    QTest::newRow("keyer speed") << QByteArray("KS;") << QByteArray("KS020;");
    QTest::newRow("squelch") << QByteArray("SQ;") << QByteArray("SQ000;");
    QTest::newRow("preamp") << QByteArray("PA;") << QByteArray("PA0;");
    QTest::newRow("attenuator") << QByteArray("RA;") << QByteArray("RA00;");
    QTest::newRow("antenna") << QByteArray("AN;") << QByteArray("AN1;");
    QTest::newRow("noise blanker") << QByteArray("NB;") << QByteArray("NB00;");
    QTest::newRow("power") << QByteArray("PC;") << QByteArray("PC1000;");
    QTest::newRow("status") << QByteArray("IF;") << IdleStatus;
    QTest::newRow("auto information") << QByteArray("AI;") << QByteArray("AI0;");
    QTest::newRow("identity probe") << QByteArray("id;") << QByteArray("ID900;");
    QTest::newRow("first probe") << QByteArray("q92;") << QByteArray();
    QTest::newRow("probe") << QByteArray("q9;") << QByteArray("Q91;");
}

void TestSimRadio::queries()
{
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, reply);
    Radio radio;
    QCOMPARE(radio.ask(query), reply);
}

void TestSimRadio::statusRecordExamples()
{
    Radio up;
    up.ask("FA00014060000;FR0;MD2;" + QByteArray("RU;").repeated(12) + "RT1;");
    QCOMPARE(up.ask("IF;"), QByteArray("IF00014060000     +012010 0002000001 ;"));

    Radio down;
    down.ask("FB00007040500;FR1;MD3;" + QByteArray("RD;").repeated(5) + "XT1;SW20;");
    QCOMPARE(down.ask("IF;"), QByteArray("IF00007040500     -005001 0013100001 ;"));
}

void TestSimRadio::commandsChangeState_data()
{
    QTest::addColumn<QByteArray>("commands");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("set vfo a") << QByteArray("FA7040500;") << QByteArray("FA;") << QByteArray("FA00007040500;");
    QTest::newRow("set vfo a, 11 digits") << QByteArray("FA00021060000;") << QByteArray("FA;")
                                           << QByteArray("FA00021060000;");
    QTest::newRow("set vfo b") << QByteArray("FB3560000;") << QByteArray("FB;") << QByteArray("FB00003560000;");
    QTest::newRow("receive vfo") << QByteArray("FR1;") << QByteArray("FR;") << QByteArray("FR1;");
    QTest::newRow("status shows receive vfo") << QByteArray("FR1;") << QByteArray("IF;")
                                              << QByteArray("IF00007030000     +000000 0002100001 ;");
    QTest::newRow("transmit vfo") << QByteArray("FT1;") << QByteArray("FT;") << QByteArray("FT1;");
    QTest::newRow("agc slow") << QByteArray("GT004;") << QByteArray("GT;") << QByteArray("GT0041;");
    QTest::newRow("agc off") << QByteArray("SW36;") << QByteArray("GT;") << QByteArray("GT0020;");
    QTest::newRow("agc on again") << QByteArray("SW36;SW36;") << QByteArray("GT;") << QByteArray("GT0021;");
    QTest::newRow("mode") << QByteArray("MD3;") << QByteArray("MD;") << QByteArray("MD3;");
    QTest::newRow("cw narrows filter") << QByteArray("MD3;") << QByteArray("FW;") << QByteArray("FW050030;");
    QTest::newRow("voice widens filter") << QByteArray("MD7;MD1;") << QByteArray("FW;")
                                         << QByteArray("FW250010;");
    QTest::newRow("data keeps filter") << QByteArray("FW0100;MD9;") << QByteArray("FW;")
                                       << QByteArray("FW180020;");
    QTest::newRow("keyer speed") << QByteArray("KS035;") << QByteArray("KS;") << QByteArray("KS035;");
    QTest::newRow("squelch") << QByteArray("SQ250;") << QByteArray("SQ;") << QByteArray("SQ250;");
    QTest::newRow("preamp") << QByteArray("PA1;") << QByteArray("PA;") << QByteArray("PA1;");
    QTest::newRow("attenuator") << QByteArray("RA01;") << QByteArray("RA;") << QByteArray("RA01;");
    QTest::newRow("antenna") << QByteArray("AN2;") << QByteArray("AN;") << QByteArray("AN2;");
    QTest::newRow("antenna switch") << QByteArray("SW04;") << QByteArray("AN;") << QByteArray("AN2;");
    QTest::newRow("antenna switch back") << QByteArray("SW04;SW04;") << QByteArray("AN;") << QByteArray("AN1;");
    QTest::newRow("power") << QByteArray("PC105;") << QByteArray("PC;") << QByteArray("PC1050;");
    QTest::newRow("filter step") << QByteArray("FW0100;") << QByteArray("FW;") << QByteArray("FW180020;");
    QTest::newRow("filter 4") << QByteArray("FW0100;").repeated(3) << QByteArray("FW;")
                              << QByteArray("FW025040;");
    QTest::newRow("filter wraps") << QByteArray("FW0100;").repeated(4) << QByteArray("FW;")
                                  << QByteArray("FW250010;");
    QTest::newRow("audio filter") << QByteArray("SW29;") << QByteArray("FW;") << QByteArray("FW250011;");
    QTest::newRow("audio filter wraps") << QByteArray("SW29;").repeated(3) << QByteArray("FW;")
                                        << QByteArray("FW250010;");
    QTest::newRow("blanker 1") << QByteArray("NB1;") << QByteArray("NB;") << QByteArray("NB10;");
    QTest::newRow("blanker 2") << QByteArray("NB1;NB1;") << QByteArray("NB;") << QByteArray("NB20;");
    QTest::newRow("blanker off") << QByteArray("NB1;NB1;NB1;") << QByteArray("NB;") << QByteArray("NB00;");
    QTest::newRow("blanker level") << QByteArray("SW22;") << QByteArray("NB;") << QByteArray("NB01;");
    QTest::newRow("spot tone") << QByteArray("SW27;") << QByteArray("IF;") << IdleStatus;
    QTest::newRow("up 10 Hz") << QByteArray("UP1;") << QByteArray("FA;") << QByteArray("FA00014060010;");
    QTest::newRow("down 50 Hz") << QByteArray("DN3;") << QByteArray("FA;") << QByteArray("FA00014059950;");
    QTest::newRow("up 1 kHz") << QByteArray("UP4;") << QByteArray("FA;") << QByteArray("FA00014061000;");
    QTest::newRow("step moves vfo b") << QByteArray("FR1;UP4;") << QByteArray("FB;")
                                      << QByteArray("FB00007031000;");
    QTest::newRow("step leaves vfo a") << QByteArray("FR1;UP4;") << QByteArray("FA;")
                                       << QByteArray("FA00014060000;");
    QTest::newRow("step stops at top") << QByteArray("FA59999500;UP4;") << QByteArray("FA;")
                                       << QByteArray("FA00060000000;");
    QTest::newRow("step stops at bottom") << QByteArray("FA30040;DN3;DN3;") << QByteArray("FA;")
                                          << QByteArray("FA00000030000;");
    QTest::newRow("band up") << QByteArray("SW01;") << QByteArray("FA;") << QByteArray("FA00018086000;");
    QTest::newRow("band down") << QByteArray("SW03;") << QByteArray("FA;") << QByteArray("FA00010116000;");
    QTest::newRow("band up wraps") << QByteArray("FA50100000;SW01;") << QByteArray("FA;")
                                   << QByteArray("FA00001836000;");
    QTest::newRow("band down wraps") << QByteArray("FA1836000;SW03;") << QByteArray("FA;")
                                     << QByteArray("FA00050090000;");
    QTest::newRow("band up between bands") << QByteArray("FA5000000;SW01;") << QByteArray("FA;")
                                           << QByteArray("FA00007030000;");
    QTest::newRow("band down between bands") << QByteArray("FA5000000;SW03;") << QByteArray("FA;")
                                             << QByteArray("FA00003560000;");
    QTest::newRow("band memory") << QByteArray("FA14070000;SW01;SW03;") << QByteArray("FA;")
                                 << QByteArray("FA00014070000;");
    QTest::newRow("band moves vfo b") << QByteArray("FR1;SW01;") << QByteArray("FB;")
                                      << QByteArray("FB00010116000;");
    QTest::newRow("rit up") << QByteArray("RU;RU;RT1;") << QByteArray("IF;")
                            << QByteArray("IF00014060000     +002010 0002000001 ;");
    QTest::newRow("xit down") << QByteArray("RD;RD;RD;XT1;") << QByteArray("IF;")
                              << QByteArray("IF00014060000     -003001 0002000001 ;");
    QTest::newRow("offset clear") << QByteArray("RU;RC;") << QByteArray("IF;") << IdleStatus;
    QTest::newRow("offset stops at 9990") << QByteArray("RU;").repeated(1200) << QByteArray("IF;")
                                          << QByteArray("IF00014060000     +999000 0002000001 ;");
    QTest::newRow("offset stops at -9990") << QByteArray("RD;").repeated(1200) << QByteArray("IF;")
                                           << QByteArray("IF00014060000     -999000 0002000001 ;");
    QTest::newRow("rit off") << QByteArray("RT1;RT0;") << QByteArray("IF;") << IdleStatus;
    QTest::newRow("auto information on") << QByteArray("AI2;") << QByteArray("AI;") << QByteArray("AI2;");
    QTest::newRow("auto information off") << QByteArray("AI2;AI0;") << QByteArray("AI;") << QByteArray("AI0;");
    QTest::newRow("tune transmits") << QByteArray("SW20;") << QByteArray("IF;") << TuningStatus;
    QTest::newRow("tune again stops") << QByteArray("SW20;SW20;") << QByteArray("IF;") << IdleStatus;
    QTest::newRow("keying transmits") << QByteArray("KY CQ CQ\r\n;") << QByteArray("IF;") << TuningStatus;
    QTest::newRow("keying stops") << QByteArray("KY CQ;KY @;") << QByteArray("IF;") << IdleStatus;
    QTest::newRow("empty text keys nothing") << QByteArray("KY ;") << QByteArray("IF;") << IdleStatus;
}

void TestSimRadio::commandsChangeState()
{
    QFETCH(QByteArray, commands);
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, reply);
    Radio radio;
    QCOMPARE(radio.ask(commands), QByteArray());
    QCOMPARE(radio.ask(query), reply);
}

void TestSimRadio::badCommandsAreRejected_data()
{
    QTest::addColumn<QByteArray>("command");

    const QByteArray bad[] = {
        "XX;", "F;", "FA1;", "FA123456789012;", "FA1405x000;", "FA-14060000;", "FR2;", "FT01;",
        "FW0200;", "FW1;", "GT003;", "GT02;", "MD4;", "MD22;", "KS008;", "KS051;", "KS20;",
        "SQ256;", "PA2;", "RA1;", "RA02;", "AN3;", "NB2;", "PC000;", "PC151;", "PC1050;", "SM1;",
        "IF1;", "UP2;", "DN;", "SW99;", "SW1;", "RU1;", "RT2;", "XT;", "KY;", "KYCQ;",
        "KY 1234567890123456789012345;", "AI1;", "ID1;", "Q93;", "F A;", "\x01\xff;",
    };
    for (const QByteArray &command : bad)
        QTest::newRow(command.toPercentEncoding().constData()) << command;
}

void TestSimRadio::badCommandsAreRejected()
{
    QFETCH(QByteArray, command);
    Radio radio;
    const QByteArray before = radio.ask(AllQueries);
    QCOMPARE(radio.ask(command), QByteArray("?;"));
    QCOMPARE(radio.ask(AllQueries), before);
}

void TestSimRadio::framing()
{
    Radio radio;
    QCOMPARE(radio.ask("FA;FB;MD;"), QByteArray("FA00014060000;FB00007030000;MD2;"));
    QCOMPARE(radio.ask("fa7040000;md3;md;fa;"), QByteArray("MD3;FA00007040000;"));
    QCOMPARE(radio.ask(" \r\nFR;\r\n\tFT;\r\n"), QByteArray("FR0;FT0;"));
    QCOMPARE(radio.ask(";;\r\n;"), QByteArray());

    QByteArray replies;
    for (const char byte : QByteArray("FB;ID;\r\nq9;"))
        replies += radio.ask(QByteArray(1, byte));
    QCOMPARE(replies, QByteArray("FB00007030000;ID900;Q91;"));

    QCOMPARE(radio.ask(QByteArray(SimRadio::MaxPendingInput + 1, 'x')), QByteArray());
    QCOMPARE(radio.ask("AN;"), QByteArray("AN1;"));
    QCOMPARE(radio.ask(QByteArray(SimRadio::MaxPendingInput - 2, 'x')), QByteArray());
    QCOMPARE(radio.ask("AN;"), QByteArray("?;"));
}

void TestSimRadio::autoInformation()
{
    Radio radio;
    QCOMPARE(radio.ask("RA01;UP1;MD3;SW20;SW20;"), QByteArray());
    QCOMPARE(radio.ask("AI2;"), QByteArray());
    QCOMPARE(radio.ask("RA01;MD3;GT002;"), QByteArray());
    QCOMPARE(radio.ask("RA00;"), QByteArray("RA00;"));
    QCOMPARE(radio.ask("UP1;UP1;"), QByteArray("FA00014060020;FA00014060030;"));
    QCOMPARE(radio.ask("FR1;"), QByteArray("FR1;"));
    QCOMPARE(radio.ask("SW01;"), QByteArray("FB00010116000;"));
    QCOMPARE(radio.ask("MD1;"), QByteArray("MD1;FW250010;"));
    QCOMPARE(radio.ask("RT1;"), QByteArray("IF00010116000     +000010 0001100001 ;"));
    QCOMPARE(radio.ask("RU;"), QByteArray("IF00010116000     +001010 0001100001 ;"));
    QCOMPARE(radio.ask("SW22;SW36;PC050;"), QByteArray("NB01;GT0020;PC0500;"));
    QCOMPARE(radio.ask("FB;"), QByteArray("FB00010116000;"));
    QCOMPARE(radio.ask("XX;"), QByteArray("?;"));
    QCOMPARE(radio.ask("SM;").size(), 7);
    QCOMPARE(radio.ask("AI0;RA01;SW04;"), QByteArray());
}

void TestSimRadio::probes_data()
{
    QTest::addColumn<SimRadio::ProbeAnswer>("policy");
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");

    QTest::newRow("all") << SimRadio::ProbeAnswer::Always << QByteArray("Q91;") << QByteArray("Q91;");
    QTest::newRow("after first") << SimRadio::ProbeAnswer::AfterFirst << QByteArray() << QByteArray("Q91;");
    QTest::newRow("none") << SimRadio::ProbeAnswer::Never << QByteArray() << QByteArray();
}

void TestSimRadio::probes()
{
    QFETCH(SimRadio::ProbeAnswer, policy);
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    Radio radio;
    radio.sim.setProbeAnswer(policy);
    QCOMPARE(radio.ask("q92;q9;"), first);
    QCOMPARE(radio.ask("q9;"), second);
    QCOMPARE(radio.ask("Q9;"), second);
    QCOMPARE(radio.ask("id;"), QByteArray("ID900;"));
}

void TestSimRadio::silent()
{
    Radio radio;
    radio.sim.setSilent(true);
    QCOMPARE(radio.ask("AI2;id;q92;q9;FA;XX;MD3;"), QByteArray());
    radio.sim.setSilent(false);
    QCOMPARE(radio.ask("MD;"), QByteArray("MD3;"));
}

void TestSimRadio::shortPowerForm()
{
    Radio radio;
    radio.sim.setPowerForm(SimRadio::PowerForm::Short);
    QCOMPARE(radio.ask("PC;"), QByteArray("PC010;"));
    QCOMPARE(radio.ask("PC015;PC;"), QByteArray("PC015;"));
    QCOMPARE(radio.ask("PC016;PC000;PC;"), QByteArray("?;?;PC015;"));
    radio.sim.setPowerForm(SimRadio::PowerForm::Long);
    QCOMPARE(radio.ask("PC;"), QByteArray("PC1500;"));
}

void TestSimRadio::tuneCycle()
{
    Radio radio;
    radio.sim.setTuneDuration(50ms);
    radio.ask("AI2;");
    QCOMPARE(radio.ask("SW20;"), TuningStatus);
    QTRY_COMPARE_WITH_TIMEOUT(radio.sent, IdleStatus, 10000);
    QCOMPARE(radio.ask("IF;"), IdleStatus);
    QCOMPARE(radio.ask("SW20;SW20;"), TuningStatus + IdleStatus);
}

void TestSimRadio::cwKeying()
{
    Radio radio;
    radio.sim.setTuneDuration(30ms);
    radio.ask("AI2;");
    QCOMPARE(radio.ask("KY CQ CQ DE Q9SIM\r\n;"), TuningStatus);
    QTRY_COMPARE_WITH_TIMEOUT(radio.sent, IdleStatus, 10000);
    QCOMPARE(radio.ask("KY CQ;KY @;"), TuningStatus + IdleStatus);
    QCOMPARE(radio.ask("KY @;"), QByteArray());
}

void TestSimRadio::signalMeter()
{
    Radio first;
    Radio again;
    Radio other;
    first.sim.setSeed(7);
    again.sim.setSeed(7);
    other.sim.setSeed(8);
    const QList<int> readings = first.meterReadings(300);
    QCOMPARE(readings.size(), 300);
    QCOMPARE(again.meterReadings(300), readings);
    QVERIFY(other.meterReadings(300) != readings);

    const auto [lowest, highest] = std::minmax_element(readings.cbegin(), readings.cend());
    QVERIFY(*lowest >= 0);
    QVERIFY(*highest <= 20);
    QVERIFY2(*highest > 15, "no strong signal came up");
    QVERIFY(QSet<int>(readings.cbegin(), readings.cend()).size() >= 8);
}

void TestSimRadio::pacedOutput()
{
    Radio radio;
    radio.sim.setPaced(true);
    QCOMPARE(radio.ask("FA;IF;id;"), QByteArray());
    QTRY_COMPARE_WITH_TIMEOUT(radio.sent, "FA00014060000;" + IdleStatus + "ID900;", 10000);
}

QTEST_GUILESS_MAIN(TestSimRadio)
#include "tst_simradio.moc"
