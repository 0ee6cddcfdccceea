#include "app/panel_colours.h"
#include "operator_input.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

// The CW box holds at most 24 characters as they leave, a line break being
// two; Send CW hands the text to the radio in one keying command.
class TestCwSender : public QObject
{
    Q_OBJECT

private slots:
    void sendStopAndClear();
    void boxHoldsTwentyFourCharactersOnTheWire();
    void sendingStopsTheSmeterPoll();
};

void TestCwSender::sendStopAndClear()
{
    LinkedPanel radio;
    auto *box = radio.control<QPlainTextEdit>("CWsend");
    auto *send = radio.control<QPushButton>("CW_SendBuff");
    const auto clicked = [&](const char *button) {
        return radio.sentDuring([&] { QTest::mouseClick(radio.control<QPushButton>(button), Qt::LeftButton); });
    };

    QCOMPARE(clicked("CW_SendBuff"), QByteArray("KY ;"));
    QTest::keyClicks(box, QStringLiteral("cq test"));
    QCOMPARE(clicked("CW_SendBuff"), QByteArray("KY cq test;"));
    // Nothing changed, nothing cleared.
    QCOMPARE(box->toPlainText(), QStringLiteral("cq test"));

    QTest::keyClick(box, Qt::Key_Return);
    QTest::keyClicks(box, QStringLiteral("de Q9 "));
    QCOMPARE(radio.sentDuring([&] { send->click(); }), QByteArray("KY cq test\r\nde Q9 ;"));

    QCOMPARE(clicked("CW_Stop"), QByteArray("KY @;"));
    QCOMPARE(clicked("CW_ClearBox"), QByteArray());
    QCOMPARE(box->toPlainText(), QString());
    QCOMPARE(clicked("CW_Stop"), QByteArray("KY @;"));
}

void TestCwSender::boxHoldsTwentyFourCharactersOnTheWire()
{
    PanelFixture fixture;
    showActive(fixture.start());
    auto *box = fixture.control<QPlainTextEdit>("CWsend");
    box->setFocus();

    QTest::keyClicks(box, QStringLiteral("abcdefghijklmnopqrstuvwxyz"));
    QCOMPARE(box->toPlainText(), QStringLiteral("abcdefghijklmnopqrstuvwx"));
    QCOMPARE(box->textCursor().position(), 24);

    // A full box refuses a key typed in the middle and keeps the caret there.
    box->moveCursor(QTextCursor::Start);
    QTest::keyClicks(box, QStringLiteral("Z"));
    QCOMPARE(box->toPlainText(), QStringLiteral("abcdefghijklmnopqrstuvwx"));
    QCOMPARE(box->textCursor().position(), 0);

    // A line break counts two.
    box->clear();
    QTest::keyClicks(box, QStringLiteral("cq cq cq de"));
    QTest::keyClick(box, Qt::Key_Return);
    QTest::keyClicks(box, QStringLiteral("Q9XYZ Q9XYZ k"));
    QCOMPARE(box->toPlainText(), QStringLiteral("cq cq cq de\nQ9XYZ Q9XYZ"));
    // Room for a break is room for two characters only.
    box->setPlainText(QStringLiteral("0123456789012345678901"));
    box->moveCursor(QTextCursor::End);
    QTest::keyClick(box, Qt::Key_Return);
    QTest::keyClick(box, Qt::Key_Return);
    QCOMPARE(box->toPlainText(), QStringLiteral("0123456789012345678901\n"));

    // A paste keeps its beginning, up to what fits, and the text after the
    // caret stays.
    box->setPlainText(QStringLiteral("cq  k"));
    QTextCursor caret = box->textCursor();
    caret.setPosition(3);
    box->setTextCursor(caret);
    box->insertPlainText(QStringLiteral("de Q9XYZ de Q9XYZ de Q9XYZ "));
    QCOMPARE(box->toPlainText(), QStringLiteral("cq de Q9XYZ de Q9XYZ d k"));
    QCOMPARE(box->textCursor().position(), 22);
}

void TestCwSender::sendingStopsTheSmeterPoll()
{
    LinkedPanel radio;
    auto *smeter = radio.control<QPushButton>("SM_en");
    auto *poll = radio.control<QTimer>("Timer1");
    QTest::mouseClick(smeter, Qt::LeftButton);
    QVERIFY(poll->isActive());
    radio.control<QPlainTextEdit>("CWsend")->setPlainText(QStringLiteral("test"));

    const QByteArray sent =
        radio.sentDuring([&] { QTest::mouseClick(radio.control<QPushButton>("CW_SendBuff"), Qt::LeftButton); });
    QVERIFY2(sent.endsWith("KY test;"), sent.constData());
    QCOMPARE(QString::fromLatin1(sent.chopped(8)).remove(QStringLiteral("SM;")), QString());
    QVERIFY(!poll->isActive());
    QCOMPARE(backColour(smeter), PanelColour::buttonFace());
}

QTEST_MAIN(TestCwSender)
#include "tst_cw_sender.moc"
