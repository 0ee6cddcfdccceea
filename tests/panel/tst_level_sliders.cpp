#include "operator_input.h"

#include <QSignalSpy>
#include <QSlider>
#include <QTest>

// Power, keyer speed and squelch send on every move the operator makes, and
// never when a reply moves them.
class TestLevelSliders : public QObject
{
    Q_OBJECT

private slots:
    void keysSendEachNewPosition();
    void mouseSendsEachPositionOnTheWay();
    void repliesMoveSlidersQuietly();
    void withoutLinkEveryMoveFailsOnItsOwn();
};

namespace {

QByteArray levelCommands(const char *code, const QList<int> &levels)
{
    QByteArray commands;
    for (const int level : levels)
        commands += code + QByteArray::number(level).rightJustified(3, '0') + ';';
    return commands;
}

} // namespace

void TestLevelSliders::keysSendEachNewPosition()
{
    LinkedPanel radio;
    auto *speed = radio.control<QSlider>("CWSpeedSlider");
    auto *squelch = radio.control<QSlider>("SquelchSlider");
    const auto keyed = [&](QSlider *slider, Qt::Key key) {
        return radio.sentDuring([&] { QTest::keyClick(slider, key); });
    };
    radio.panel().ReceiveText(QStringLiteral("KS020;"));
    QCOMPARE(keyed(speed, Qt::Key_Right), QByteArray("KS021;"));
    radio.panel().ReceiveText(QStringLiteral("KS020;"));
    QCOMPARE(keyed(speed, Qt::Key_PageUp), QByteArray("KS025;"));
    QCOMPARE(keyed(speed, Qt::Key_Home), QByteArray("KS009;"));
    // At the end already: no move, no command.
    QCOMPARE(keyed(speed, Qt::Key_Left), QByteArray());

    QCOMPARE(keyed(squelch, Qt::Key_Right), QByteArray("SQ025;"));
    QCOMPARE(keyed(squelch, Qt::Key_PageUp), QByteArray("SQ075;"));
    QCOMPARE(keyed(squelch, Qt::Key_End), QByteArray("SQ250;"));

    // A low-power radio's reply limits the power commands to 15 W.
    auto *power = radio.control<QSlider>("PowerSlider");
    radio.panel().ReceiveText(QStringLiteral("PC010;"));
    QCOMPARE(keyed(power, Qt::Key_End), QByteArray("PC015;"));
    QCOMPARE(keyed(power, Qt::Key_Right), QByteArray());
    QCOMPARE(keyed(power, Qt::Key_PageDown), QByteArray("PC005;"));
}

// A drag sends one command for each position the slider reports; a click
// beside the thumb moves a page.
void TestLevelSliders::mouseSendsEachPositionOnTheWay()
{
    LinkedPanel radio;
    auto *squelch = radio.control<QSlider>("SquelchSlider");
    QCOMPARE(radio.sentDuring([&] { dragThumb(squelch, 4); }), QByteArray("SQ025;SQ050;SQ075;SQ100;"));

    auto *power = radio.control<QSlider>("PowerSlider");
    QSignalSpy moves(power, &QSlider::sliderMoved);
    const QByteArray dragged = radio.sentDuring([&] { dragThumb(power, 40); });
    QList<int> positions;
    for (const QList<QVariant> &move : moves)
        positions.append(move.value(0).toInt());
    QVERIFY(positions.size() > 1);
    QCOMPARE(positions.last(), 40);
    QCOMPARE(dragged, levelCommands("PC", positions));

    QCOMPARE(radio.sentDuring([&] { clickTrack(power, true); }), QByteArray("PC050;"));
    QCOMPARE(radio.sentDuring([&] { clickTrack(power, false); }), QByteArray("PC040;"));
}

void TestLevelSliders::repliesMoveSlidersQuietly()
{
    LinkedPanel radio;
    const QByteArray sent = radio.sentDuring([&] {
        radio.panel().ReceiveText(QStringLiteral("PC0501;KS030;SQ100;"));
        radio.panel().ReceiveText(QStringLiteral("PC005;"));
    });
    QCOMPARE(sent, QByteArray());
    QCOMPARE(radio.control<QSlider>("PowerSlider")->value(), 5);
    QCOMPARE(radio.control<QSlider>("PowerSlider")->maximum(), 15);
    QCOMPARE(radio.control<QSlider>("CWSpeedSlider")->value(), 30);
    QCOMPARE(radio.control<QSlider>("SquelchSlider")->value(), 4);
}

void TestLevelSliders::withoutLinkEveryMoveFailsOnItsOwn()
{
    PanelFixture fixture;
    showActive(fixture.start());
    auto *speed = fixture.control<QSlider>("CWSpeedSlider");
    QTest::keyClick(speed, Qt::Key_Right);
    QTest::keyClick(speed, Qt::Key_Right);
    QCOMPARE(fixture.dialogs.messages.size(), 2);
    QCOMPARE(speed->value(), 11);
}

QTEST_MAIN(TestLevelSliders)
#include "tst_level_sliders.moc"
