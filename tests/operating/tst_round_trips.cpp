#include "app/panel_colours.h"
#include "operator_input.h"
#include "sim_radio.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

#include <chrono>

using namespace std::chrono_literals;

// The operator's controls against the simulated radio over a real serial
// link: each change must reach the radio and come back as the radio's own
// report, so the panel ends up showing the radio's new state.
class TestRoundTrips : public QObject
{
    Q_OBJECT

private slots:
    void stepsAndTheReceiveVfo();
    void modeAttenuatorAndPower();
    void ritOffsetAndClear();
    void tuneGoesGreenAndBack();
    void sessionScreenshot();
};

namespace {

// The panel connected to the simulated radio as the operator connects it,
// through the port menu, with the start-up query answered.
struct Station
{
    Station()
    {
        radio.setVfoA(7'040'000);
        radio.setVfoB(14'060'000);
        QObject::connect(&radio, &SimRadio::output, &radio, [this](const QByteArray &bytes) { heard += bytes; });
        port.answerWith(radio);
        fixture.linkPort(1, port.slavePath());
        showActive(fixture.start());
        fixture.control<QAction>("Setcomm1")->trigger();
    }

    bool ready() const
    {
        return fixture.globals().RadioPresent && box("vfob_edbox")->text() == u"14060.00";
    }
    QLineEdit *box(const char *name) const { return fixture.control<QLineEdit>(name); }
    void click(const char *name)
    {
        auto *button = fixture.control<QAbstractButton>(name);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
    }
    bool isGreen(const char *name) const
    {
        return backColour(fixture.control<QWidget>(name)) == PanelColour::On;
    }

    SimRadio radio;
    // Everything the radio said, asked or not.
    QByteArray heard;
    PtyPair port;
    PanelFixture fixture;
};

} // namespace

void TestRoundTrips::stepsAndTheReceiveVfo()
{
    Station station;
    QTRY_VERIFY(station.ready());

    station.click("up100hx");
    QTRY_COMPARE(station.box("vfoa_edbox")->text(), QStringLiteral("07040.10"));
    QVERIFY(station.heard.contains("FA00007040100;"));

    station.click("rx_vfob");
    QTRY_COMPARE(station.fixture.globals().RxVfo, qint16(1));
    QTRY_VERIFY(station.heard.contains("IF00014060000"));
    QVERIFY(station.isGreen("rx_vfob"));
    QVERIFY(!station.isGreen("rx_vfoa"));

    // The steps now move B, and A stays where it was.
    station.heard.clear();
    station.click("dn100hz");
    QTRY_COMPARE(station.box("vfob_edbox")->text(), QStringLiteral("14059.90"));
    QCOMPARE(station.box("vfoa_edbox")->text(), QStringLiteral("07040.10"));

    // A typed frequency reaches the radio when the box is left.
    QTest::mouseClick(station.box("vfoa_edbox"), Qt::LeftButton);
    QTRY_COMPARE(station.box("vfoa_edbox")->selectedText(), QStringLiteral("07040.10"));
    QTest::keyClicks(station.box("vfoa_edbox"), QStringLiteral("3560"));
    station.click("a2b");
    QTRY_COMPARE(station.box("vfob_edbox")->text(), QStringLiteral("03560.00"));
    QCOMPARE(station.box("vfoa_edbox")->text(), QStringLiteral("03560.00"));
}

void TestRoundTrips::modeAttenuatorAndPower()
{
    Station station;
    QTRY_VERIFY(station.ready());

    // CW: the radio narrows its filter, which the panel asked after.
    station.click("cw_md");
    QTRY_COMPARE(station.box("fil_bw")->text(), QStringLiteral("FL3/0500"));
    QVERIFY(station.heard.contains("MD3;"));
    QVERIFY(station.fixture.control<QRadioButton>("cw_md")->isChecked());

    station.click("att_cmd");
    QTRY_VERIFY(station.heard.contains("RA01;"));
    QVERIFY(station.isGreen("att_cmd"));
    QVERIFY(station.fixture.globals().AttenuatorOn);
    station.click("att_cmd");
    QTRY_VERIFY(station.heard.contains("RA00;"));
    QVERIFY(!station.isGreen("att_cmd"));

    auto *power = station.fixture.control<QSlider>("PowerSlider");
    dragThumb(power, 50);
    QTRY_COMPARE(station.fixture.control<QLabel>("PWR")->text(), QStringLiteral("05.0W"));
    QCOMPARE(power->value(), 50);
    QVERIFY(station.heard.endsWith("PC0500;"));
}

void TestRoundTrips::ritOffsetAndClear()
{
    Station station;
    QTRY_VERIFY(station.ready());
    auto *offset = station.box("rit_box");

    station.click("rit_cmd");
    QTRY_VERIFY(station.isGreen("rit_ind"));
    QCOMPARE(station.fixture.globals().RitOn, 1.0);

    station.click("ru1k");
    QTRY_COMPARE(offset->text(), QStringLiteral("+0.25"));
    QCOMPARE(textColour(offset), PanelColour::OffsetActive);
    station.click("rd50");
    QTRY_COMPARE(offset->text(), QStringLiteral("+0.15"));

    station.click("rit_clr");
    QTRY_COMPARE(offset->text(), QStringLiteral(" 0.00"));

    station.click("rit_cmd");
    QTRY_VERIFY(!station.isGreen("rit_ind"));
    QCOMPARE(textColour(offset), PanelColour::OffsetIdle);
}

void TestRoundTrips::tuneGoesGreenAndBack()
{
    Station station;
    QTRY_VERIFY(station.ready());
    station.radio.setTuneDuration(800ms);
    QList<bool> greenAtPoll;
    station.port.onReceive = [&](const QByteArray &chunk) {
        if (chunk.contains("IF;"))
            greenAtPoll.append(station.isGreen("Tune"));
    };

    station.click("Tune");
    // The click returns once the radio has reported the end of the tune.
    QVERIFY(greenAtPoll.contains(true));
    QVERIFY(!station.fixture.globals().Transmitting);
    QVERIFY(!station.isGreen("Tune"));
}

// A short session, then a picture of the panel for a person to look at.
void TestRoundTrips::sessionScreenshot()
{
    Station station;
    QTRY_VERIFY(station.ready());
    station.click("rx_vfob");
    station.click("cw_md");
    station.click("att_cmd");
    station.click("rit_cmd");
    station.click("ru1k");
    station.click("rd10");
    station.click("rit_clr");
    station.click("ru50");
    QTRY_COMPARE(station.box("rit_box")->text(), QStringLiteral("+0.10"));
    QTRY_COMPARE(station.box("fil_bw")->text(), QStringLiteral("FL3/0500"));
    QVERIFY(station.isGreen("rx_vfob"));
    QVERIFY(station.isGreen("tx_vfob"));
    QVERIFY(station.isGreen("att_cmd"));
    QVERIFY(station.isGreen("rit_ind"));

    const QDir dir(QStringLiteral(Q9_SCREENSHOT_DIR));
    QVERIFY(dir.mkpath(QStringLiteral(".")));
    QVERIFY(station.fixture.panel().grab().save(dir.filePath(QStringLiteral("session.png"))));
}

QTEST_MAIN(TestRoundTrips)
#include "tst_round_trips.moc"
