#include "app/panel_colours.h"
#include "operator_input.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>


// The panel's switches: plain buttons that send and forget, the toggles that
// keep a state of their own, Spot, and TUNE following the radio through a
// transmission.
class TestSwitchButtons : public QObject
{
    Q_OBJECT

private slots:
    void plainButtonsSendTheirString_data();
    void plainButtonsSendTheirString();
    void repliesSelectingOptionsSendNothing();
    void togglesFollowTheRadiosLastReport();
    void spotAlternatesWhateverTheRadioDoes();
    void tuneFollowsATransmission();
    void tuneGivesUpOnARadioThatNeverTransmits();
    void tuneStopsPollingALinkThatIsGone();
};

namespace {

// A status record, receiving on VFO A at 7040 kHz, transmitting or not.
QByteArray statusRecord(bool transmitting)
{
    return QByteArray("IF00007040000     +000000 00") + (transmitting ? '1' : '0') + "2000001 ;";
}

bool isGreen(const QWidget *button)
{
    return backColour(button) == PanelColour::On;
}

} // namespace

void TestSwitchButtons::plainButtonsSendTheirString_data()
{
    QTest::addColumn<QByteArray>("control");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("LSB") << QByteArray("lsb_md") << QByteArray("MD1;FW;");
    QTest::newRow("USB") << QByteArray("usb_md") << QByteArray("MD2;FW;");
    QTest::newRow("CW") << QByteArray("cw_md") << QByteArray("MD3;FW;");
    QTest::newRow("CW-R") << QByteArray("cwr_md") << QByteArray("MD7;FW;");
    QTest::newRow("DATA") << QByteArray("data_md") << QByteArray("MD6;FW;");
    QTest::newRow("DATA-R") << QByteArray("datar_md") << QByteArray("MD9;FW;");
    QTest::newRow("XFIL") << QByteArray("xfil") << QByteArray("FW0100;FW;");
    QTest::newRow("AFIL") << QByteArray("Afil") << QByteArray("SW29;FW;");
    QTest::newRow("AGC") << QByteArray("AGC_on") << QByteArray("SW36;GT;");
    QTest::newRow("AGC fast") << QByteArray("AGC_Fast") << QByteArray("GT002;");
    QTest::newRow("AGC slow") << QByteArray("AGC_Slow") << QByteArray("GT004;");
    QTest::newRow("NB") << QByteArray("NB") << QByteArray("NB1;");
    QTest::newRow("NB level") << QByteArray("NB_level") << QByteArray("SW22;");
    QTest::newRow("antenna") << QByteArray("Ant1_2") << QByteArray("SW04;");
}

void TestSwitchButtons::plainButtonsSendTheirString()
{
    QFETCH(QByteArray, control);
    QFETCH(QByteArray, sent);
    LinkedPanel radio;
    auto *button = radio.control<QAbstractButton>(control.constData());
    // Near the left edge: an option takes clicks on its mark and caption.
    const QPoint onCaption(8, button->height() / 2);
    QCOMPARE(radio.sentDuring([&] { QTest::mouseClick(button, Qt::LeftButton, {}, onCaption); }), sent);
    // Clicked again, an option already chosen restates it.
    QCOMPARE(radio.sentDuring([&] { QTest::mouseClick(button, Qt::LeftButton, {}, onCaption); }), sent);
}

void TestSwitchButtons::repliesSelectingOptionsSendNothing()
{
    LinkedPanel radio;
    QVERIFY(radio.control<QRadioButton>("lsb_md")->isChecked());
    const QByteArray sent = radio.sentDuring([&] {
        radio.panel().ReceiveText(QStringLiteral("MD7;GT002 ;"));
        radio.panel().ReceiveText(QString::fromLatin1(statusRecord(false)));
        radio.panel().ReceiveText(QStringLiteral("GT004 ;"));
    });
    QCOMPARE(sent, QByteArray());
    QVERIFY(radio.control<QRadioButton>("usb_md")->isChecked());
    QVERIFY(radio.control<QRadioButton>("AGC_Slow")->isChecked());
}

void TestSwitchButtons::togglesFollowTheRadiosLastReport()
{
    LinkedPanel radio;
    auto *att = radio.control<QPushButton>("att_cmd");
    auto *pre = radio.control<QPushButton>("AIP_cmd");
    const auto clicked = [&](QPushButton *button) {
        return radio.sentDuring([&] { QTest::mouseClick(button, Qt::LeftButton); });
    };

    QCOMPARE(clicked(att), QByteArray("RA01;"));
    QVERIFY(isGreen(att));
    QVERIFY(radio.fixture.globals().AttenuatorOn);
    QCOMPARE(clicked(att), QByteArray("RA00;"));
    QCOMPARE(backColour(att), PanelColour::buttonFace());
    QVERIFY(!radio.fixture.globals().AttenuatorOn);

    radio.panel().ReceiveText(QStringLiteral("RA01;"));
    QCOMPARE(clicked(att), QByteArray("RA00;"));
    radio.panel().ReceiveText(QStringLiteral("RA00;"));
    QCOMPARE(clicked(att), QByteArray("RA01;"));

    // The preamp has no state until the radio reports one: off.
    QCOMPARE(clicked(pre), QByteArray("PA1;"));
    QVERIFY(isGreen(pre));
    radio.panel().ReceiveText(QStringLiteral("PA0;"));
    QCOMPARE(clicked(pre), QByteArray("PA1;"));
    radio.panel().ReceiveText(QStringLiteral("PA1;"));
    QCOMPARE(clicked(pre), QByteArray("PA0;"));
    QCOMPARE(backColour(pre), PanelColour::buttonFace());
    QVERIFY(!radio.fixture.globals().PreampOn);
}

void TestSwitchButtons::spotAlternatesWhateverTheRadioDoes()
{
    LinkedPanel radio;
    auto *spot = radio.control<QPushButton>("spot");
    for (const bool green : {true, false, true}) {
        QCOMPARE(radio.sentDuring([&] { QTest::mouseClick(spot, Qt::LeftButton); }), QByteArray("SW27;"));
        QCOMPARE(isGreen(spot), green);
        radio.panel().ReceiveText(QString::fromLatin1(statusRecord(false)));
    }
}

// The radio starts transmitting at the second poll and stops at the sixth.
// The button is green for every poll made while the radio transmits, and
// goes back to the face colour with the record that reports receive.
void TestSwitchButtons::tuneFollowsATransmission()
{
    LinkedPanel radio;
    auto *tune = radio.control<QPushButton>("Tune");
    int polls = 0;
    QList<bool> greenAtPoll;
    radio.radio.onReceive = [&](const QByteArray &chunk) {
        for (qsizetype i = 0; i < chunk.count("IF;"); ++i) {
            ++polls;
            greenAtPoll.append(isGreen(tune));
            radio.radio.write(statusRecord(polls >= 2 && polls < 6));
        }
    };
    const QByteArray sent = radio.sentDuring([&] { QTest::mouseClick(tune, Qt::LeftButton); });
    QVERIFY2(sent.startsWith("SW20;"), sent.constData());
    QCOMPARE(QString::fromLatin1(sent.mid(5)).remove(QStringLiteral("IF;")), QString());
    QVERIFY(polls >= 6);
    QCOMPARE(greenAtPoll.mid(0, 6), QList<bool>({false, false, true, true, true, true}));
    QVERIFY(!radio.fixture.globals().Transmitting);
    QCOMPARE(backColour(tune), PanelColour::buttonFace());

    // Already transmitting at the click: straight to following it.
    radio.panel().ReceiveText(QString::fromLatin1(statusRecord(true)));
    polls = 0;
    greenAtPoll.clear();
    radio.radio.onReceive = [&](const QByteArray &chunk) {
        for (qsizetype i = 0; i < chunk.count("IF;"); ++i) {
            ++polls;
            greenAtPoll.append(isGreen(tune));
            radio.radio.write(statusRecord(false));
        }
    };
    QTest::mouseClick(tune, Qt::LeftButton);
    QCOMPARE(greenAtPoll.value(0), true);
    QCOMPARE(backColour(tune), PanelColour::buttonFace());
}

// About every 0.15 s for 5 s, then it stops.
void TestSwitchButtons::tuneGivesUpOnARadioThatNeverTransmits()
{
    LinkedPanel radio;
    auto *tune = radio.control<QPushButton>("Tune");
    radio.radio.onReceive = [&](const QByteArray &chunk) {
        for (qsizetype i = 0; i < chunk.count("IF;"); ++i)
            radio.radio.write(statusRecord(false));
    };
    const QByteArray sent = radio.sentDuring([&] { QTest::mouseClick(tune, Qt::LeftButton); });

    QVERIFY2(sent.startsWith("SW20;"), sent.constData());
    const QByteArray polls = sent.mid(5);
    QCOMPARE(QString::fromLatin1(polls).remove(QStringLiteral("IF;")), QString());
    // Waits of at least 0.15 s allow no more than 34 polls in 5 s.
    QVERIFY2(polls.count("IF;") > 1 && polls.count("IF;") <= 34, polls.constData());
    QCOMPARE(backColour(tune), PanelColour::buttonFace());
}

// With no link, or a link lost while the radio transmits, no status record
// can ever arrive: the poll that fails to go out ends TUNE after its one box.
void TestSwitchButtons::tuneStopsPollingALinkThatIsGone()
{
    {
        PanelFixture fixture;
        showActive(fixture.start());
        QTest::mouseClick(fixture.control<QPushButton>("Tune"), Qt::LeftButton);
        QCOMPARE(fixture.dialogs.messages.size(), 2);
        QCOMPARE(fixture.dialogs.deepestNesting, 1);
    }

    LinkedPanel radio;
    auto *tune = radio.control<QPushButton>("Tune");
    int polls = 0;
    radio.radio.onReceive = [&](const QByteArray &chunk) {
        polls += static_cast<int>(chunk.count("IF;"));
        if (polls >= 3)
            radio.radio.hangUp();
        else
            radio.radio.write(statusRecord(true));
    };
    QTest::mouseClick(tune, Qt::LeftButton);
    QCOMPARE(radio.fixture.dialogs.messages.size(), 1);
    QVERIFY(radio.fixture.globals().Transmitting);
}

QTEST_MAIN(TestSwitchButtons)
#include "tst_switch_buttons.moc"
