#include "operator_input.h"

#include <QPushButton>
#include <QScrollBar>
#include <QTest>

// The buttons that leave the stepping to the radio: the six VFO steps, which
// ask for the receive VFO's frequency afterwards, and the RIT/XIT offset
// steps and switches, which ask for the status record.
class TestStepAndRit : public QObject
{
    Q_OBJECT

private slots:
    void vfoStepsFollowTheReceiveVfo_data();
    void vfoStepsFollowTheReceiveVfo();
    void vfoStepsRecentreTheSlider();
    void ritOffsetSteps();
    void ritAndXitSwitchAgainstTheLastRecord();
    void withoutLinkEveryStepFailsOnItsOwn();
};

void TestStepAndRit::vfoStepsFollowTheReceiveVfo_data()
{
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QByteArray>("onA");
    QTest::addColumn<QByteArray>("onB");
    QTest::newRow("+2 kHz") << QByteArray("up1") << QByteArray("UP4;UP4;FA;") << QByteArray("UP4;UP4;FB;");
    QTest::newRow("-2 kHz") << QByteArray("dn1") << QByteArray("DN4;DN4;FA;") << QByteArray("DN4;DN4;FB;");
    QTest::newRow("+100 Hz") << QByteArray("up100hx") << QByteArray("UP3;UP3;FA;") << QByteArray("UP3;UP3;FB;");
    QTest::newRow("-100 Hz") << QByteArray("dn100hz") << QByteArray("DN3;DN3;FA;") << QByteArray("DN3;DN3;FB;");
    QTest::newRow("+10 Hz") << QByteArray("up10hz") << QByteArray("UP1;FA;") << QByteArray("UP1;FB;");
    QTest::newRow("-10 Hz") << QByteArray("dn10hz") << QByteArray("DN1;FA;") << QByteArray("DN1;FB;");
}

void TestStepAndRit::vfoStepsFollowTheReceiveVfo()
{
    QFETCH(QByteArray, button);
    QFETCH(QByteArray, onA);
    QFETCH(QByteArray, onB);
    LinkedPanel radio;
    auto *step = radio.control<QPushButton>(button.constData());
    // Before any VFO has been chosen, A receives.
    QCOMPARE(radio.sentDuring([&] { QTest::mouseClick(step, Qt::LeftButton); }), onA);
    radio.panel().ReceiveText(QStringLiteral("FR1;"));
    QCOMPARE(radio.sentDuring([&] { QTest::mouseClick(step, Qt::LeftButton); }), onB);
}

void TestStepAndRit::vfoStepsRecentreTheSlider()
{
    LinkedPanel radio;
    auto *slider = radio.control<QScrollBar>("fine_tune");
    radio.panel().ReceiveText(QStringLiteral("FB00014060000;FR1;"));
    QCOMPARE(radio.sentDuring([&] { clickTrack(slider, false); }), QByteArray("AI0;FB00014059950;AI2;"));
    QCOMPARE(radio.sentDuring([&] { radio.control<QPushButton>("dn100hz")->click(); }),
             QByteArray("DN3;DN3;FB;AI0;FB00014059950;AI2;"));
    QCOMPARE(slider->value(), 0);
    QCOMPARE(radio.fixture.globals().FineTunePosition, qint16(0));
}

void TestStepAndRit::ritOffsetSteps()
{
    LinkedPanel radio;
    const auto clicked = [&](const char *button) {
        return radio.sentDuring([&] { QTest::mouseClick(radio.control<QPushButton>(button), Qt::LeftButton); });
    };
    QCOMPARE(clicked("ru10"), QByteArray("RU;"));
    QCOMPARE(clicked("rd10"), QByteArray("RD;"));
    QCOMPARE(clicked("ru50"), "AI0;" + QByteArray("RU;").repeated(10) + "IF;AI2;");
    QCOMPARE(clicked("rd50"), "AI0;" + QByteArray("RD;").repeated(10) + "IF;AI2;");
    QCOMPARE(clicked("ru1k"), "AI0;" + QByteArray("RU;").repeated(25) + "IF;AI2;");
    QCOMPARE(clicked("rd1k"), "AI0;" + QByteArray("RD;").repeated(25) + "IF;AI2;");
    QCOMPARE(clicked("rit_clr"), QByteArray("RC;IF;"));
}

void TestStepAndRit::ritAndXitSwitchAgainstTheLastRecord()
{
    LinkedPanel radio;
    auto *rit = radio.control<QPushButton>("rit_cmd");
    auto *xit = radio.control<QPushButton>("xit_cmd");
    const auto clicked = [&](QPushButton *button) {
        return radio.sentDuring([&] { QTest::mouseClick(button, Qt::LeftButton); });
    };
    // No record yet: both count as off, and stay so until one arrives.
    QCOMPARE(clicked(rit), QByteArray("RT1;IF;"));
    QCOMPARE(clicked(rit), QByteArray("RT1;IF;"));
    QCOMPARE(clicked(xit), QByteArray("XT1;IF;"));

    radio.panel().ReceiveText(QStringLiteral("IF00014060000     +012010 0002000001 ;"));
    QCOMPARE(clicked(rit), QByteArray("RT0;IF;"));
    QCOMPARE(clicked(xit), QByteArray("XT1;IF;"));
    radio.panel().ReceiveText(QStringLiteral("IF00007040500     -005001 0003100001 ;"));
    QCOMPARE(clicked(rit), QByteArray("RT1;IF;"));
    QCOMPARE(clicked(xit), QByteArray("XT0;IF;"));
}

void TestStepAndRit::withoutLinkEveryStepFailsOnItsOwn()
{
    PanelFixture fixture;
    Rmt_Q9 &panel = fixture.start();
    showActive(panel);

    QTest::mouseClick(fixture.control<QPushButton>("ru1k"), Qt::LeftButton);
    // "AI0;", 25 times "RU;", "IF;AI2;": each its own box, one at a time.
    QCOMPARE(fixture.dialogs.messages.size(), 27);
    QCOMPARE(fixture.dialogs.deepestNesting, 1);

    fixture.dialogs.messages.clear();
    QTest::mouseClick(fixture.control<QPushButton>("up1"), Qt::LeftButton);
    QCOMPARE(fixture.dialogs.messages.size(), 2);
}

QTEST_MAIN(TestStepAndRit)
#include "tst_step_and_rit.moc"
