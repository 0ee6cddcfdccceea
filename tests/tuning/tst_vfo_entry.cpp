#include "app/panel_colours.h"
#include "operator_input.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

// The VFO boxes send what they hold when the operator leaves them; the copy
// and RX/TX buttons send fixed strings and show the choice at once.
class TestVfoEntry : public QObject
{
    Q_OBJECT

private slots:
    void leavingABoxSendsItsFrequency_data();
    void leavingABoxSendsItsFrequency();
    void enteringABoxSelectsTheFrequency();
    void leavingAgainAndRecentring();
    void windowAndMenuFocusChangesSendNothing();
    void copyButtons();
    void receiveAndTransmitButtons();
    void withoutLinkTheButtonsStillShowTheChoice();
};

namespace {

// Takes the focus away from a box the way the operator does: a click on a
// control that sends nothing of its own.
void clickElsewhere(LinkedPanel &radio)
{
    QTest::mouseClick(radio.control<QPlainTextEdit>("CWsend")->viewport(), Qt::LeftButton);
}

void typeInto(QLineEdit *box, const QString &text)
{
    QTest::mouseClick(box, Qt::LeftButton);
    QCoreApplication::processEvents();
    QTest::keyClicks(box, text);
}

} // namespace

void TestVfoEntry::leavingABoxSendsItsFrequency_data()
{
    QTest::addColumn<QByteArray>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("7040 on A") << QByteArray("vfoa_edbox") << "07040.00" << QByteArray("FA00007040000;");
    QTest::newRow("14060 on A") << QByteArray("vfoa_edbox") << "14060.00" << QByteArray("FA00014060000;");
    QTest::newRow("fraction") << QByteArray("vfoa_edbox") << "3500.5" << QByteArray("FA00003500500;");
    QTest::newRow("10 MHz on B") << QByteArray("vfob_edbox") << "10000" << QByteArray("FB00010000000;");
    QTest::newRow("just below") << QByteArray("vfoa_edbox") << "9999.99" << QByteArray("FA00009999990;");
    QTest::newRow("10 Hz") << QByteArray("vfoa_edbox") << "28000.01" << QByteArray("FA00028000010;");
    QTest::newRow("empty A") << QByteArray("vfoa_edbox") << "" << QByteArray("FA0000;");
    QTest::newRow("empty B") << QByteArray("vfob_edbox") << "" << QByteArray("FB0000;");
    QTest::newRow("no number") << QByteArray("vfoa_edbox") << "abc" << QByteArray("FA0000;");
    QTest::newRow("blanks and unit") << QByteArray("vfob_edbox") << " 7 040 kHz" << QByteArray("FB00007040000;");
}

void TestVfoEntry::leavingABoxSendsItsFrequency()
{
    QFETCH(QByteArray, box);
    QFETCH(QString, typed);
    QFETCH(QByteArray, sent);
    LinkedPanel radio;
    auto *edit = radio.control<QLineEdit>(box.constData());
    const QByteArray out = radio.sentDuring([&] {
        typeInto(edit, typed);
        clickElsewhere(radio);
    });
    QCOMPARE(out, sent);
    QVERIFY(!edit->hasFocus());
    // The box keeps what was typed until a reply rewrites it.
    QCOMPARE(edit->text(), typed);
}

void TestVfoEntry::enteringABoxSelectsTheFrequency()
{
    LinkedPanel radio;
    auto *box = radio.control<QLineEdit>("vfoa_edbox");
    radio.panel().ReceiveText(QStringLiteral("FA00007040000;"));

    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->width() - 4, box->height() / 2));
    QTRY_COMPARE(box->selectedText(), QStringLiteral("07040.00"));
    QTest::keyClicks(box, QStringLiteral("7041"));
    QCOMPARE(box->text(), QStringLiteral("7041"));

    // Coming back from another control selects again.
    clickElsewhere(radio);
    radio.control<QLineEdit>("vfob_edbox")->setFocus(Qt::TabFocusReason);
    radio.panel().ReceiveText(QStringLiteral("FA00014060000;"));
    box->setFocus(Qt::BacktabFocusReason);
    QTRY_COMPARE(box->selectedText(), QStringLiteral("14060.00"));
}

void TestVfoEntry::leavingAgainAndRecentring()
{
    LinkedPanel radio;
    auto *box = radio.control<QLineEdit>("vfoa_edbox");
    auto *slider = radio.control<QScrollBar>("fine_tune");
    radio.panel().ReceiveText(QStringLiteral("FA00014060000;"));

    // Unchanged, it is sent all the same.
    QCOMPARE(radio.sentDuring([&] {
                 box->setFocus();
                 clickElsewhere(radio);
             }),
             QByteArray("FA00014060000;"));

    // Off-centre, the re-centre that follows sends the new frequency once
    // more and rewrites the box in display form.
    QCOMPARE(radio.sentDuring([&] { clickArrow(slider, true); }), QByteArray("AI0;FA00014060010;AI2;"));
    QCOMPARE(radio.sentDuring([&] {
                 typeInto(box, QStringLiteral("7040"));
                 clickElsewhere(radio);
             }),
             QByteArray("FA00007040000;AI0;FA00007040000;AI2;"));
    QCOMPARE(box->text(), QStringLiteral("07040.00"));
    QCOMPARE(slider->value(), 0);
}

// Only moving to another control of the panel leaves a box: another window
// coming to the front, or the box's own context menu, must not send a
// half-typed frequency.
void TestVfoEntry::windowAndMenuFocusChangesSendNothing()
{
    LinkedPanel radio;
    auto *box = radio.control<QLineEdit>("vfob_edbox");
    QWidget other;
    const QByteArray away = radio.sentDuring([&] {
        typeInto(box, QStringLiteral("1406"));
        showActive(other);
        other.hide();
        showActive(radio.panel());
    });
    QCOMPARE(away, QByteArray());
    QVERIFY(box->hasFocus());
    QCOMPARE(box->text(), QStringLiteral("1406"));

    QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
    QCOMPARE(radio.sentDuring([&] { QCoreApplication::sendEvent(box, &popup); }), QByteArray());

    QCOMPARE(radio.sentDuring([&] {
                 QTest::keyClicks(box, QStringLiteral("0"));
                 clickElsewhere(radio);
             }),
             QByteArray("FB00014060000;"));
}

void TestVfoEntry::copyButtons()
{
    LinkedPanel radio;
    auto *slider = radio.control<QScrollBar>("fine_tune");
    radio.panel().ReceiveText(QStringLiteral("FA00014060000;FB00007040000;"));

    QCOMPARE(radio.sentDuring([&] { radio.control<QPushButton>("a2b")->click(); }),
             QByteArray("FB00014060000;FA;FB;"));
    QCOMPARE(radio.sentDuring([&] { radio.control<QPushButton>("b2a")->click(); }),
             QByteArray("FA00007040000;FA;FB;"));

    // Both re-centre; receiving on A, the re-centre re-sends A's box.
    QCOMPARE(radio.sentDuring([&] { clickTrack(slider, true); }), QByteArray("AI0;FA00014060050;AI2;"));
    QCOMPARE(radio.sentDuring([&] { radio.control<QPushButton>("a2b")->click(); }),
             QByteArray("FB00014060050;FA;FB;AI0;FA00014060050;AI2;"));
    QCOMPARE(slider->value(), 0);
}

void TestVfoEntry::receiveAndTransmitButtons()
{
    LinkedPanel radio;
    auto *slider = radio.control<QScrollBar>("fine_tune");
    auto *rxA = radio.control<QPushButton>("rx_vfoa");
    auto *txA = radio.control<QPushButton>("tx_vfoa");
    auto *rxB = radio.control<QPushButton>("rx_vfob");
    auto *txB = radio.control<QPushButton>("tx_vfob");
    const QColor face = PanelColour::buttonFace();
    radio.panel().ReceiveText(QStringLiteral("FA00007040000;FB00014060000;"));

    // The usual entry: type into B's box, then click its RX. The box is left
    // before the click is handled.
    const QByteArray toB = radio.sentDuring([&] {
        typeInto(radio.control<QLineEdit>("vfob_edbox"), QStringLiteral("14070"));
        QTest::mouseClick(rxB, Qt::LeftButton);
    });
    QCOMPARE(toB, QByteArray("FB00014070000;FR1;FW;IF;FA;"));
    QCOMPARE(radio.fixture.globals().RxVfo, qint16(1));
    QCOMPARE(backColour(rxB), PanelColour::On);
    QCOMPARE(backColour(txB), PanelColour::On);
    QCOMPARE(backColour(rxA), face);
    QCOMPARE(backColour(txA), face);

    // TX changes neither the receive VFO nor the RX buttons.
    QCOMPARE(radio.sentDuring([&] { QTest::mouseClick(txA, Qt::LeftButton); }), QByteArray("FT0;"));
    QCOMPARE(backColour(txA), PanelColour::On);
    QCOMPARE(backColour(txB), face);
    QCOMPARE(backColour(rxB), PanelColour::On);
    QCOMPARE(backColour(rxA), face);
    QCOMPARE(radio.fixture.globals().RxVfo, qint16(1));

    // Off-centre, the receive VFO changes before the re-centre, which so
    // re-sends the newly chosen VFO's box.
    QCOMPARE(radio.sentDuring([&] { clickArrow(slider, true); }), QByteArray("AI0;FB00014070010;AI2;"));
    QCOMPARE(radio.sentDuring([&] { QTest::mouseClick(rxA, Qt::LeftButton); }),
             QByteArray("FR0;FW;IF;FB;AI0;FA00007040000;AI2;"));
    QCOMPARE(slider->value(), 0);
    QCOMPARE(radio.fixture.globals().RxVfo, qint16(0));
    QCOMPARE(backColour(rxA), PanelColour::On);
    QCOMPARE(backColour(rxB), face);
    QCOMPARE(radio.sentDuring([&] { QTest::mouseClick(txB, Qt::LeftButton); }), QByteArray("FT1;"));
    QCOMPARE(backColour(txB), PanelColour::On);
    QCOMPARE(backColour(txA), face);
    QCOMPARE(backColour(rxA), PanelColour::On);
}

// Each send fails on its own, one box at a time, and the handlers carry on.
void TestVfoEntry::withoutLinkTheButtonsStillShowTheChoice()
{
    PanelFixture fixture;
    Rmt_Q9 &panel = fixture.start();
    showActive(panel);
    auto *slider = fixture.control<QScrollBar>("fine_tune");

    clickArrow(slider, true);
    fixture.dialogs.messages.clear();
    QTest::mouseClick(fixture.control<QPushButton>("rx_vfob"), Qt::LeftButton);
    // The RX string, then the re-centre's three.
    QCOMPARE(fixture.dialogs.messages.size(), 4);
    QCOMPARE(backColour(fixture.control<QPushButton>("rx_vfob")), PanelColour::On);
    QCOMPARE(backColour(fixture.control<QPushButton>("tx_vfob")), PanelColour::On);
    QCOMPARE(fixture.globals().RxVfo, qint16(1));
    QCOMPARE(slider->value(), 0);

    fixture.dialogs.messages.clear();
    QTest::mouseClick(fixture.control<QPushButton>("a2b"), Qt::LeftButton);
    QCOMPARE(fixture.dialogs.messages.size(), 2);
    QCOMPARE(fixture.dialogs.deepestNesting, 1);
}

QTEST_MAIN(TestVfoEntry)
#include "tst_vfo_entry.moc"
