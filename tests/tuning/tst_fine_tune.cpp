#include "operator_input.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

// The fine-tune slider tunes the receive VFO relative to where it last sent
// the frequency; re-centring moves the reference, never the radio.
class TestFineTune : public QObject
{
    Q_OBJECT

private slots:
    void dragReleaseAndTrackClick();
    void recentring();
    void incrementChanges();
    void incrementsOffTheTenHertzGrid();
    void tunesVfoBWhenItReceives();
    void debugConsoleShowsTheFrequency();
    void withoutLinkEveryEventStillTunes();
};

void TestFineTune::dragReleaseAndTrackClick()
{
    LinkedPanel radio;
    auto *slider = radio.control<QScrollBar>("fine_tune");
    auto *box = radio.control<QLineEdit>("vfoa_edbox");
    radio.panel().ReceiveText(QStringLiteral("FA00007040000;"));
    QCOMPARE(box->text(), QStringLiteral("07040.00"));

    QStringList boxDuringDrag;
    connect(slider, &QScrollBar::sliderMoved, this, [&] { boxDuringDrag.append(box->text()); });
    const QByteArray drag = radio.sentDuring([&] { dragThumb(slider, 3); });
    QCOMPARE(drag, QByteArray("AI0;FA00007040010;AI2;"
                              "AI0;FA00007040020;AI2;"
                              "AI0;FA00007040030;AI2;"
                              // the release: once more, unchanged
                              "AI0;FA00007040030;AI2;"));
    QCOMPARE(boxDuringDrag, QStringList({"07040.01", "07040.02", "07040.03"}));
    QCOMPARE(radio.fixture.globals().FineTunePosition, qint16(3));

    QCOMPARE(radio.sentDuring([&] { radio.control<QPushButton>("clr_slide")->click(); }),
             QByteArray("AI0;FA00007040030;AI2;"));
    radio.panel().ReceiveText(QStringLiteral("FA00007040000;"));
    QCOMPARE(slider->value(), 0);
    QCOMPARE(radio.sentDuring([&] { clickTrack(slider, true); }), QByteArray("AI0;FA00007040050;AI2;"));
    QCOMPARE(slider->value(), 5);
    QCOMPARE(box->text(), QStringLiteral("07040.05"));
    QCOMPARE(radio.sentDuring([&] { clickTrack(slider, false); }), QByteArray("AI0;FA00007040000;AI2;"));
    QCOMPARE(radio.fixture.globals().FineTunePosition, qint16(0));
}

void TestFineTune::recentring()
{
    LinkedPanel radio;
    auto *slider = radio.control<QScrollBar>("fine_tune");
    auto *box = radio.control<QLineEdit>("vfoa_edbox");
    auto *clear = radio.control<QPushButton>("clr_slide");
    radio.panel().ReceiveText(QStringLiteral("FA00007040000;"));

    // Centred already: nothing moves, nothing is sent.
    QCOMPARE(radio.sentDuring([&] { clear->click(); }), QByteArray());

    const QByteArray arrows = radio.sentDuring([&] {
        for (int i = 0; i < 4; ++i)
            clickArrow(slider, true);
    });
    QCOMPARE(arrows, QByteArray("AI0;FA00007040010;AI2;AI0;FA00007040020;AI2;"
                                "AI0;FA00007040030;AI2;AI0;FA00007040040;AI2;"));
    QCOMPARE(slider->value(), 4);

    // From +4 the reference goes first, so the one change re-sends the
    // frequency as it stands, and the box is rewritten in display form.
    box->setText(QStringLiteral("7040.04"));
    QCOMPARE(radio.sentDuring([&] { clear->click(); }), QByteArray("AI0;FA00007040040;AI2;"));
    QCOMPARE(box->text(), QStringLiteral("07040.04"));
    QCOMPARE(slider->value(), 0);
    QCOMPARE(radio.fixture.globals().FineTunePosition, qint16(0));

    // The band buttons re-centre after their own command.
    QCOMPARE(radio.sentDuring([&] { clickArrow(slider, false); }), QByteArray("AI0;FA00007040030;AI2;"));
    QCOMPARE(radio.sentDuring([&] { radio.control<QPushButton>("BandUp")->click(); }),
             QByteArray("SW01;AI0;FA00007040030;AI2;"));
    QCOMPARE(radio.sentDuring([&] { radio.control<QPushButton>("BandDn")->click(); }), QByteArray("SW03;"));
    QCOMPARE(slider->value(), 0);
}

void TestFineTune::incrementChanges()
{
    LinkedPanel radio;
    auto *slider = radio.control<QScrollBar>("fine_tune");
    auto *box = radio.control<QLineEdit>("vfoa_edbox");
    auto *increment = radio.control<QLineEdit>("incr_edbox");
    auto *scale = radio.control<QLabel>("Label12");
    radio.panel().ReceiveText(QStringLiteral("FA00007040000;"));

    radio.sentDuring([&] {
        clickArrow(slider, true);
        clickArrow(slider, true);
    });
    QCOMPARE(box->text(), QStringLiteral("07040.02"));

    // Typing the new increment re-centres at its first key without
    // retuning: the tuning done so far stays.
    const QByteArray typed = radio.sentDuring([&] {
        increment->setFocus();
        increment->selectAll();
        QTest::keyClicks(increment, QStringLiteral("100"));
    });
    QCOMPARE(typed, QByteArray("AI0;FA00007040020;AI2;"));
    QCOMPARE(slider->value(), 0);
    QCOMPARE(radio.fixture.globals().FineTuneStepHz, 100.0);
    QCOMPARE(scale->text(), QStringLiteral("    | -005.000  | 0 | +005.000 | khz"));
    QCOMPARE(radio.sentDuring([&] { clickArrow(slider, true); }), QByteArray("AI0;FA00007040120;AI2;"));

    // A negative increment turns the slider round; the scale shows the sign.
    QCOMPARE(radio.sentDuring([&] { increment->setText(QStringLiteral("-10")); }),
             QByteArray("AI0;FA00007040120;AI2;"));
    QCOMPARE(scale->text(), QStringLiteral("    | --000.500  | 0 | +-000.500 | khz"));
    QCOMPARE(radio.sentDuring([&] { clickArrow(slider, true); }), QByteArray("AI0;FA00007040110;AI2;"));

    // No number: no movement, but every event still sends.
    QCOMPARE(radio.sentDuring([&] { increment->setText(QStringLiteral("x")); }),
             QByteArray("AI0;FA00007040110;AI2;"));
    QCOMPARE(scale->text(), QStringLiteral("    | -000.000  | 0 | +000.000 | khz"));
    QCOMPARE(radio.sentDuring([&] { clickTrack(slider, true); }), QByteArray("AI0;FA00007040110;AI2;"));
}

// The radio gets the exact hertz; the box, and so the next event's start,
// is rounded to 10 Hz, a half going away from zero.
void TestFineTune::incrementsOffTheTenHertzGrid()
{
    LinkedPanel radio;
    auto *slider = radio.control<QScrollBar>("fine_tune");
    auto *box = radio.control<QLineEdit>("vfoa_edbox");
    radio.control<QLineEdit>("incr_edbox")->setText(QStringLiteral("15"));
    radio.panel().ReceiveText(QStringLiteral("FA00007040000;"));

    QCOMPARE(radio.sentDuring([&] { clickArrow(slider, true); }), QByteArray("AI0;FA00007040015;AI2;"));
    QCOMPARE(box->text(), QStringLiteral("07040.02"));
    QCOMPARE(radio.sentDuring([&] { clickArrow(slider, true); }), QByteArray("AI0;FA00007040035;AI2;"));
    QCOMPARE(box->text(), QStringLiteral("07040.04"));

    QCOMPARE(radio.sentDuring([&] { radio.control<QLineEdit>("incr_edbox")->setText(QStringLiteral("5")); }),
             QByteArray("AI0;FA00007040040;AI2;"));
    radio.panel().ReceiveText(QStringLiteral("FA00007040000;"));
    QCOMPARE(radio.sentDuring([&] { clickArrow(slider, false); }), QByteArray("AI0;FA00007039995;AI2;"));
    QCOMPARE(box->text(), QStringLiteral("07040.00"));
}

void TestFineTune::tunesVfoBWhenItReceives()
{
    LinkedPanel radio;
    auto *slider = radio.control<QScrollBar>("fine_tune");
    radio.panel().ReceiveText(QStringLiteral("FA00007040000;FB00014060000;FR1;"));
    QCOMPARE(radio.fixture.globals().RxVfo, qint16(1));

    QCOMPARE(radio.sentDuring([&] { clickTrack(slider, true); }), QByteArray("AI0;FB00014060050;AI2;"));
    QCOMPARE(radio.control<QLineEdit>("vfob_edbox")->text(), QStringLiteral("14060.05"));
    QCOMPARE(radio.control<QLineEdit>("vfoa_edbox")->text(), QStringLiteral("07040.00"));

    // Below 10 MHz the field keeps its eleven digits.
    radio.panel().ReceiveText(QStringLiteral("FB00009999990;"));
    QCOMPARE(radio.sentDuring([&] { clickArrow(slider, true); }), QByteArray("AI0;FB00010000000;AI2;"));
    QCOMPARE(radio.control<QLineEdit>("vfob_edbox")->text(), QStringLiteral("10000.00"));
}

void TestFineTune::debugConsoleShowsTheFrequency()
{
    LinkedPanel radio;
    auto *slider = radio.control<QScrollBar>("fine_tune");
    auto *console = radio.control<QPlainTextEdit>("Text1");
    radio.control<QAction>("debug_on")->trigger();
    radio.panel().ReceiveText(QStringLiteral("FA00007039990;"));

    clickArrow(slider, true);
    QCOMPARE(console->toPlainText(), QStringLiteral("7040."));
    clickArrow(slider, true);
    QCOMPARE(console->toPlainText(), QStringLiteral("7040.01"));
}

// With no link each event's three sends each fail on their own, one box at
// a time, and the slider still tunes the box.
void TestFineTune::withoutLinkEveryEventStillTunes()
{
    PanelFixture fixture;
    Rmt_Q9 &panel = fixture.start();
    showActive(panel);
    auto *slider = fixture.control<QScrollBar>("fine_tune");
    panel.ReceiveText(QStringLiteral("FA00007040000;"));

    dragThumb(slider, 2);
    QCOMPARE(fixture.dialogs.messages.size(), 9);
    QCOMPARE(fixture.dialogs.deepestNesting, 1);
    QCOMPARE(fixture.control<QLineEdit>("vfoa_edbox")->text(), QStringLiteral("07040.02"));
    QCOMPARE(fixture.globals().FineTunePosition, qint16(2));
}

QTEST_MAIN(TestFineTune)
#include "tst_fine_tune.moc"
