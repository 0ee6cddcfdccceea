#include "app/panel_colours.h"
#include "panel_fixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

// Replies go in through ReceiveText, as the links hand them over, and come
// out as what the panel shows.
class TestHandleReply : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void frequenciesAreReadFromTheEnd();
    void vfoChoiceAndPresenceFlags();
    void filterAndAudioFilter();
    void agcNoiseBlankerAntenna();
    void levelsAndMeter();
    void attenuatorPreampAndMode();
    void unknownShortAndMisalignedReplies();
    void statusRecords();
    void ritOffsetColours();

private:
    void feed(const QString &text) { m_fixture->panel().ReceiveText(text); }
    template<typename T>
    T *c(const char *name) const { return m_fixture->control<T>(name); }
    QString text(const char *name) const { return c<QLineEdit>(name)->text(); }
    QString caption(const char *name) const { return c<QPushButton>(name)->text(); }
    bool isOn(const char *name) const { return backColour(c<QWidget>(name)) == PanelColour::On; }
    bool isFace(const char *name) const
    {
        return backColour(c<QWidget>(name)) == PanelColour::buttonFace();
    }
    const Q9_globals &g() const { return m_fixture->globals(); }

    std::unique_ptr<PanelFixture> m_fixture;
};

void TestHandleReply::init()
{
    m_fixture = std::make_unique<PanelFixture>();
    m_fixture->start();
}

void TestHandleReply::cleanup()
{
    m_fixture.reset();
}

void TestHandleReply::frequenciesAreReadFromTheEnd()
{
    feed(QStringLiteral("FA00014060000;"));
    QCOMPARE(text("vfoa_edbox"), QStringLiteral("14060.00"));
    feed(QStringLiteral("FB00007040500;"));
    QCOMPARE(text("vfob_edbox"), QStringLiteral("07040.50"));
    feed(QStringLiteral("FB00000135000;"));
    QCOMPARE(text("vfob_edbox"), QStringLiteral("00135.00"));
    // 100 MHz and above: the digits in front of the field are not shown.
    feed(QStringLiteral("FA00144300000;"));
    QCOMPARE(text("vfoa_edbox"), QStringLiteral("44300.00"));
    // The field sits in front of the last digit, wherever the reply starts.
    feed(QStringLiteral("FA14060000;"));
    QCOMPARE(text("vfoa_edbox"), QStringLiteral("14060.00"));
    feed(QStringLiteral("FA;"));
    QCOMPARE(text("vfoa_edbox"), QStringLiteral("00000.00"));

    // The operator's unfinished entry is replaced all the same.
    c<QLineEdit>("vfob_edbox")->setText(QStringLiteral("70"));
    feed(QStringLiteral("FB00007040000;"));
    QCOMPARE(text("vfob_edbox"), QStringLiteral("07040.00"));
}

void TestHandleReply::vfoChoiceAndPresenceFlags()
{
    feed(QStringLiteral("FR1;"));
    QCOMPARE(g().RxVfo, qint16(1));
    QVERIFY(isOn("rx_vfob"));
    QVERIFY(isFace("rx_vfoa"));
    feed(QStringLiteral("FR2;"));
    QCOMPARE(g().RxVfo, qint16(1));
    QVERIFY(isOn("rx_vfob"));
    feed(QStringLiteral("FR0;"));
    QCOMPARE(g().RxVfo, qint16(0));
    QVERIFY(isOn("rx_vfoa"));
    QVERIFY(isFace("rx_vfob"));

    feed(QStringLiteral("FT1;"));
    QVERIFY(isOn("tx_vfob"));
    QVERIFY(isFace("tx_vfoa"));
    feed(QStringLiteral("FT;"));
    QVERIFY(isOn("tx_vfob"));

    QVERIFY(!g().ServerConnected);
    feed(QStringLiteral("!!;"));
    QVERIFY(g().ServerConnected);
    QVERIFY(c<QWidget>("Text1")->isHidden());

    QVERIFY(c<QLabel>("Q9_present_ind")->isHidden());
    feed(QStringLiteral("Q91;"));
    QVERIFY(g().RadioPresent);
    QVERIFY(!c<QLabel>("Q9_present_ind")->isHidden());
    QCOMPARE(c<QLabel>("Q9_present_ind")->text(), QStringLiteral(" Q9 Present"));
    // Codes are compared exactly: lower case is another code.
    feed(QStringLiteral("fa00007000000;"));
    QVERIFY(text("vfoa_edbox") != QStringLiteral("07000.00"));
}

void TestHandleReply::filterAndAudioFilter()
{
    feed(QStringLiteral("FW250010;"));
    QCOMPARE(text("fil_bw"), QStringLiteral("FL1/2500"));
    QCOMPARE(caption("Afil"), QStringLiteral("AFIL"));
    QVERIFY(isFace("Afil"));
    feed(QStringLiteral("FW050031;"));
    QCOMPARE(text("fil_bw"), QStringLiteral("FL3/0500"));
    QCOMPARE(caption("Afil"), QStringLiteral("AF1"));
    QVERIFY(isOn("Afil"));
    // No audio-filter digit: the terminator stands at position 8.
    feed(QStringLiteral("FW25002;"));
    QCOMPARE(text("fil_bw"), QStringLiteral("FL2/2500"));
    QCOMPARE(caption("Afil"), QStringLiteral("AF1"));
    feed(QStringLiteral("FW250092;"));
    QCOMPARE(text("fil_bw"), QStringLiteral("/2500"));
    QCOMPARE(caption("Afil"), QStringLiteral("AF2"));
}

void TestHandleReply::agcNoiseBlankerAntenna()
{
    feed(QStringLiteral("GT0021;"));
    QVERIFY(c<QRadioButton>("AGC_Fast")->isChecked());
    QVERIFY(isOn("AGC_on"));
    feed(QStringLiteral("GT0040;"));
    QVERIFY(c<QRadioButton>("AGC_Slow")->isChecked());
    QVERIFY(!c<QRadioButton>("AGC_Fast")->isChecked());
    QVERIFY(isFace("AGC_on"));
    feed(QStringLiteral("GT004;"));
    QVERIFY(c<QRadioButton>("AGC_Slow")->isChecked());
    QVERIFY(isOn("AGC_on"));

    feed(QStringLiteral("NB10;"));
    QCOMPARE(caption("NB"), QStringLiteral("NB1"));
    QVERIFY(isOn("NB"));
    QCOMPARE(caption("NB_level"), QStringLiteral("High"));
    feed(QStringLiteral("NB1;"));
    QCOMPARE(caption("NB"), QStringLiteral("NB1"));
    feed(QStringLiteral("NB01;"));
    QCOMPARE(caption("NB"), QStringLiteral("NB"));
    QVERIFY(isFace("NB"));
    QCOMPARE(caption("NB_level"), QStringLiteral("Low"));
    feed(QStringLiteral("NB20;"));
    QCOMPARE(caption("NB"), QStringLiteral("NB2"));
    // An unknown blanker digit leaves NB alone but still sets the level.
    feed(QStringLiteral("NB91;"));
    QCOMPARE(caption("NB"), QStringLiteral("NB2"));
    QCOMPARE(caption("NB_level"), QStringLiteral("Low"));

    feed(QStringLiteral("AN2;"));
    QCOMPARE(caption("Ant1_2"), QStringLiteral("ANT 2"));
    feed(QStringLiteral("AN1;"));
    QCOMPARE(caption("Ant1_2"), QStringLiteral("ANT 1"));
    feed(QStringLiteral("AN;"));
    QCOMPARE(caption("Ant1_2"), QStringLiteral("ANT 1"));
}

void TestHandleReply::levelsAndMeter()
{
    feed(QStringLiteral("KS020;"));
    QCOMPARE(c<QSlider>("CWSpeedSlider")->value(), 20);
    QCOMPARE(c<QLabel>("SPD")->text(), QStringLiteral("20"));

    const QList<std::pair<QString, int>> squelch = {
        {QStringLiteral("SQ050;"), 2}, {QStringLiteral("SQ037;"), 1},
        {QStringLiteral("SQ038;"), 2}, {QStringLiteral("SQ255;"), 10}};
    for (const auto &[reply, level] : squelch) {
        feed(reply);
        QCOMPARE(c<QSlider>("SquelchSlider")->value(), level);
        QCOMPARE(c<QLabel>("SQ")->text(), QStringLiteral("%1").arg(level, 2, 10, QLatin1Char('0')));
    }

    feed(QStringLiteral("PC010;"));
    QVERIFY(c<QWidget>("NB_level")->isHidden());
    QCOMPARE(c<QSlider>("PowerSlider")->maximum(), 15);
    QCOMPARE(c<QSlider>("PowerSlider")->value(), 10);
    QCOMPARE(c<QLabel>("PWR")->text(), QStringLiteral("10W"));
    feed(QStringLiteral("PC1500;"));
    QVERIFY(!c<QWidget>("NB_level")->isHidden());
    QCOMPARE(c<QSlider>("PowerSlider")->maximum(), 150);
    QCOMPARE(c<QSlider>("PowerSlider")->value(), 150);
    QCOMPARE(c<QLabel>("PWR")->text(), QStringLiteral("15.0W"));
    feed(QStringLiteral("PC0501;"));
    QCOMPARE(c<QSlider>("PowerSlider")->value(), 50);
    QCOMPARE(c<QLabel>("PWR")->text(), QStringLiteral("05.0W"));

    const QList<std::pair<QString, int>> meter = {
        {QStringLiteral("SM0007;"), 14}, {QStringLiteral("SM0020;"), 30}, {QStringLiteral("SM0001;"), 2},
        {QStringLiteral("SM0015;"), 30}, {QStringLiteral("SM;"), 0},      {QStringLiteral("SM0005;"), 10}};
    for (const auto &[reply, value] : meter) {
        feed(reply);
        QCOMPARE(c<QProgressBar>("Smeter")->value(), value);
    }
}

void TestHandleReply::attenuatorPreampAndMode()
{
    feed(QStringLiteral("RA01;"));
    QVERIFY(g().AttenuatorOn);
    QVERIFY(isOn("att_cmd"));
    feed(QStringLiteral("RA00;"));
    QVERIFY(!g().AttenuatorOn);
    QVERIFY(isFace("att_cmd"));
    feed(QStringLiteral("PA1;"));
    QVERIFY(g().PreampOn);
    QVERIFY(isOn("AIP_cmd"));
    feed(QStringLiteral("PA0;"));
    QVERIFY(!g().PreampOn);
    QVERIFY(isFace("AIP_cmd"));

    const QList<std::pair<QString, const char *>> modes = {
        {QStringLiteral("MD3;"), "cw_md"},   {QStringLiteral("MD7;"), "cwr_md"},
        {QStringLiteral("MD6;"), "data_md"}, {QStringLiteral("MD9;"), "datar_md"},
        {QStringLiteral("MD2;"), "usb_md"},  {QStringLiteral("MD5;"), "usb_md"},
        {QStringLiteral("MD1;"), "lsb_md"},  {QStringLiteral("MD;"), "lsb_md"}};
    for (const auto &[reply, button] : modes) {
        feed(reply);
        QVERIFY2(c<QRadioButton>(button)->isChecked(), qPrintable(reply));
    }
}

void TestHandleReply::unknownShortAndMisalignedReplies()
{
    feed(QStringLiteral("FA00014060000;"));
    m_fixture->panel().ReceiveText(QString());
    for (const QString &reply : {QStringLiteral("ZZ123;"), QStringLiteral("RM10012;"), QStringLiteral(";"),
                                 QStringLiteral("\r\nFA00007000000;"), QStringLiteral("?;"), QStringLiteral("F;")}) {
        feed(reply);
        QCOMPARE(text("vfoa_edbox"), QStringLiteral("14060.00"));
    }
    // Replies cut short read as empty fields.
    for (const QString &reply : {QStringLiteral("GT;"), QStringLiteral("PC;"), QStringLiteral("SQ;"),
                                 QStringLiteral("KS;"), QStringLiteral("FW;"), QStringLiteral("IF;"),
                                 QStringLiteral("RA;"), QStringLiteral("PA;")})
        feed(reply);
    QCOMPARE(c<QSlider>("SquelchSlider")->value(), 0);
    QCOMPARE(text("fil_bw"), QStringLiteral("/;"));
    QVERIFY(g().Transmitting);
}

void TestHandleReply::statusRecords()
{
    feed(QStringLiteral("IF00014060000     +012010 0002000001 ;"));
    QVERIFY(c<QRadioButton>("usb_md")->isChecked());
    QCOMPARE(text("vfoa_edbox"), QStringLiteral("14060.00"));
    QVERIFY(isOn("rx_vfoa"));
    QVERIFY(isFace("rx_vfob"));
    QCOMPARE(g().RxVfo, qint16(0));
    QVERIFY(!g().Transmitting);
    QVERIFY(isFace("Tune"));
    QCOMPARE(gaugeColour(c<QWidget>("Smeter")), PanelColour::MeterReceive);
    QCOMPARE(text("rit_box"), QStringLiteral("+0.12"));

    const QString vfoA = text("vfoa_edbox");
    setBackColour(c<QWidget>("Tune"), PanelColour::On);
    feed(QStringLiteral("IF00007040500     -005001 0013100001 ;"));
    QVERIFY(c<QRadioButton>("cw_md")->isChecked());
    QCOMPARE(text("vfob_edbox"), QStringLiteral("07040.50"));
    QCOMPARE(text("vfoa_edbox"), vfoA);
    QVERIFY(isOn("rx_vfob"));
    QVERIFY(isFace("rx_vfoa"));
    QCOMPARE(g().RxVfo, qint16(1));
    QVERIFY(g().Transmitting);
    QVERIFY(isOn("Tune"));
    QCOMPARE(gaugeColour(c<QWidget>("Smeter")), PanelColour::MeterTransmit);
    QCOMPARE(text("rit_box"), QStringLiteral("-0.05"));

    // Mode digit 5 stands for no button: the rest of the record applies.
    feed(QStringLiteral("IF00003500000     +000000 0005000001 ;"));
    QVERIFY(c<QRadioButton>("cw_md")->isChecked());
    QCOMPARE(text("vfoa_edbox"), QStringLiteral("03500.00"));
    QCOMPARE(g().RxVfo, qint16(0));
    QVERIFY(!g().Transmitting);
    QCOMPARE(text("rit_box"), QStringLiteral(" 0.00"));

    // A longer record: frequency and mode are found from its end, the
    // receive VFO from its start (here the mode digit, so VFO B).
    feed(QStringLiteral("IFX00007074000     +000000 0006000001 ;"));
    QCOMPARE(text("vfob_edbox"), QStringLiteral("07074.00"));
    QVERIFY(c<QRadioButton>("data_md")->isChecked());
}

void TestHandleReply::ritOffsetColours()
{
    QCOMPARE(text("rit_box"), QStringLiteral("+0.00"));
    feed(QStringLiteral("IF00014060000     +012010 0002000001 ;"));
    QCOMPARE(textColour(c<QWidget>("rit_box")), PanelColour::OffsetActive);
    QCOMPARE(backColour(c<QWidget>("rit_ind")), PanelColour::On);
    QCOMPARE(backColour(c<QWidget>("xit_ind")), PanelColour::IndicatorOff);

    feed(QStringLiteral("IF00014060000     -999901 0002000001 ;"));
    QCOMPARE(text("rit_box"), QStringLiteral("-9.99"));
    QCOMPARE(textColour(c<QWidget>("rit_box")), PanelColour::OffsetActive);
    QCOMPARE(backColour(c<QWidget>("rit_ind")), PanelColour::IndicatorOff);
    QCOMPARE(backColour(c<QWidget>("xit_ind")), PanelColour::On);

    feed(QStringLiteral("IF00014060000     +100000 0002000001 ;"));
    QCOMPARE(text("rit_box"), QStringLiteral("+1.00"));
    QCOMPARE(textColour(c<QWidget>("rit_box")), PanelColour::OffsetIdle);
    QCOMPARE(backColour(c<QWidget>("rit_ind")), PanelColour::IndicatorOff);
    QCOMPARE(backColour(c<QWidget>("xit_ind")), PanelColour::IndicatorOff);

    // Any value but 1 counts as off.
    feed(QStringLiteral("IF00014060000     +000020 0002000001 ;"));
    QCOMPARE(g().RitOn, 2.0);
    QCOMPARE(textColour(c<QWidget>("rit_box")), PanelColour::OffsetIdle);
    QCOMPARE(backColour(c<QWidget>("rit_ind")), PanelColour::IndicatorOff);
}

QTEST_MAIN(TestHandleReply)
#include "tst_handle_reply.moc"
