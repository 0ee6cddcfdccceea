#include "link/reply_framer.h"
#include "panel_fixture.h"
#include "recording_relay.h"

#include <QAction>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QSlider>
#include <QTcpSocket>
#include <QTest>

namespace {

const QString Stream = QStringLiteral(
    "FA00014060000;FB00007040500;\r\nIF00014060000     +012010 0002000001 ;;SM0007;GT0021;NB10;PC0501;");

QStringList frame(const QStringList &chunks)
{
    ReplyFramer framer;
    QStringList replies;
    for (const QString &chunk : chunks)
        replies += framer.feed(chunk);
    return replies;
}

} // namespace

class TestReplyFraming : public QObject
{
    Q_OBJECT

private slots:
    void cutsAtEverySemicolon();
    void anyChunkingDeliversTheSameReplies();
    void noiseWithoutTerminatorStaysBounded();
    void debugWindowEchoesEachChunk();
    void pseudoTerminalRepliesReachThePanel();
    void everyByteValuePassesThroughBothLinks();
    void repliesThatMoveControlsSendNothing();
};

void TestReplyFraming::cutsAtEverySemicolon()
{
    ReplyFramer framer;
    QVERIFY(framer.feed(QStringLiteral("MD")).isEmpty());
    QCOMPARE(framer.feed(QStringLiteral("1;FW00")), QStringList{QStringLiteral("MD1;")});
    QCOMPARE(framer.pending(), QStringLiteral("FW00"));
    QCOMPARE(framer.feed(QStringLiteral(";SM;")), QStringList({QStringLiteral("FW00;"), QStringLiteral("SM;")}));
    QVERIFY(framer.pending().isEmpty());
    QVERIFY(framer.feed(QString()).isEmpty());
    QCOMPARE(framer.feed(QStringLiteral(";;")), QStringList({QStringLiteral(";"), QStringLiteral(";")}));
    QCOMPARE(framer.feed(QStringLiteral("FA;\r\nFB;")),
             QStringList({QStringLiteral("FA;"), QStringLiteral("\r\nFB;")}));
}

void TestReplyFraming::anyChunkingDeliversTheSameReplies()
{
    const QStringList whole = frame({Stream});
    QCOMPARE(whole.size(), 8);
    QCOMPARE(whole.at(2), QStringLiteral("\r\nIF00014060000     +012010 0002000001 ;"));
    QCOMPARE(whole.at(3), QStringLiteral(";"));

    for (qsizetype cut = 0; cut <= Stream.size(); ++cut)
        QCOMPARE(frame({Stream.left(cut), Stream.mid(cut)}), whole);
    QStringList characters;
    for (const QChar c : Stream)
        characters.append(QString(c));
    QCOMPARE(frame(characters), whole);
    QRandomGenerator random(7);
    for (int round = 0; round < 200; ++round) {
        QStringList chunks;
        for (qsizetype at = 0; at < Stream.size();) {
            const qsizetype length = random.bounded(0, 12);
            chunks.append(Stream.mid(at, length));
            at += length;
        }
        QCOMPARE(frame(chunks), whole);
    }
}

void TestReplyFraming::noiseWithoutTerminatorStaysBounded()
{
    ReplyFramer framer;
    const QString noise(1000, u'x');
    for (int i = 0; i < 1000; ++i)
        QVERIFY(framer.feed(noise).isEmpty());
    QVERIFY(framer.pending().size() <= ReplyFramer::MaxPending);
    // A reply that follows the noise still comes out whole at its end.
    const QStringList replies = framer.feed(QStringLiteral("\r\nFA00014060000;"));
    QCOMPARE(replies.size(), 1);
    QVERIFY(replies.first().endsWith(QStringLiteral("\r\nFA00014060000;")));
    QVERIFY(replies.first().size() <= ReplyFramer::MaxPending + 16);
}

void TestReplyFraming::debugWindowEchoesEachChunk()
{
    PanelFixture fixture;
    Rmt_Q9 &panel = fixture.start();
    auto *text1 = fixture.control<QPlainTextEdit>("Text1");
    panel.ReceiveText(QStringLiteral("FA000"));
    QVERIFY(text1->toPlainText().isEmpty());

    fixture.control<QAction>("debug_on")->trigger();
    panel.ReceiveText(QStringLiteral("14060000;"));
    panel.ReceiveText(QString());
    panel.ReceiveText(QStringLiteral("SM0007;"));
    QCOMPARE(text1->toPlainText(), QStringLiteral("\n14060000;\n\nSM0007;"));
    QCOMPARE(fixture.control<QLineEdit>("vfoa_edbox")->text(), QStringLiteral("14060.00"));

    // The greeting replaces the whole window.
    panel.ReceiveText(QStringLiteral("!!relay;"));
    QCOMPARE(text1->toPlainText(), QStringLiteral("R9Ezuziz Connected"));

    // Hours of S-meter replies keep only the newest lines.
    for (int i = 0; i < 10000; ++i)
        panel.ReceiveText(QStringLiteral("SM%1;").arg(i % 16, 4, 10, QLatin1Char('0')));
    QVERIFY(text1->blockCount() <= 5000);
    QVERIFY(text1->toPlainText().endsWith(QStringLiteral("\nSM0015;")));
}

void TestReplyFraming::pseudoTerminalRepliesReachThePanel()
{
    PtyPair radio;
    PanelFixture fixture;
    fixture.start();
    fixture.connectSerial(radio);
    auto *vfoA = fixture.control<QLineEdit>("vfoa_edbox");
    radio.write("FA0001");
    QTest::qWait(50);
    radio.write("4074000;FB00007");
    QTRY_COMPARE(vfoA->text(), QStringLiteral("14074.00"));
    radio.write("074000;");
    QTRY_COMPARE(fixture.control<QLineEdit>("vfob_edbox")->text(), QStringLiteral("07074.00"));
}

void TestReplyFraming::everyByteValuePassesThroughBothLinks()
{
    QByteArray allBytes;
    for (int b = 0; b < 256; ++b)
        allBytes.append(static_cast<char>(b));

    PtyPair radio;
    PanelFixture fixture;
    fixture.start();
    fixture.control<QAction>("debug_on")->trigger();
    fixture.connectSerial(radio);
    // The byte values include ";" itself: the noise after it is ended by
    // one more, and the reply that follows stands alone.
    radio.write(allBytes + ";FA00021074000;");
    QTRY_COMPARE(fixture.control<QLineEdit>("vfoa_edbox")->text(), QStringLiteral("21074.00"));
    QVERIFY(fixture.control<QPlainTextEdit>("Text1")->toPlainText().contains(QStringLiteral("\u00fe\u00ff")));

    RecordingRelay relay(QStringLiteral("127.0.0.23"));
    fixture.dialogs.inputAnswers = {QStringLiteral("127.0.0.23")};
    fixture.control<QAction>("Set_Host_Addr")->trigger();
    relay.client->write(allBytes + ";FB00028074000;");
    QTRY_COMPARE(fixture.control<QLineEdit>("vfob_edbox")->text(), QStringLiteral("28074.00"));
    QVERIFY(fixture.dialogs.messages.isEmpty());
}

void TestReplyFraming::repliesThatMoveControlsSendNothing()
{
    PtyPair radio;
    PanelFixture fixture;
    fixture.start();
    fixture.connectSerial(radio);
    radio.write("KS030;SQ100;PC0750;MD3;GT0021;PC012;");
    QTRY_COMPARE(fixture.control<QSlider>("PowerSlider")->value(), 12);
    QCOMPARE(fixture.control<QSlider>("CWSpeedSlider")->value(), 30);
    QCOMPARE(fixture.control<QSlider>("SquelchSlider")->value(), 4);
    // Give anything wrongly sent time to arrive.
    QTest::qWait(200);
    QCOMPARE(radio.received, QByteArray());
}

QTEST_MAIN(TestReplyFraming)
#include "tst_reply_framing.moc"
