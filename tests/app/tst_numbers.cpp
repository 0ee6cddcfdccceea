#include "app/numbers.h"
#include "app/settings_record.h"
#include "app/utc_clock.h"
#include "cat/mode_digits.h"
#include "cat/rit_display.h"
#include "tuning/fine_tune_scale.h"
#include "tuning/frequency_command.h"

#include <QTest>

#include <limits>

class TestNumbers : public QObject
{
    Q_OBJECT

private slots:
    void leadingNumberReadsLikeTheRadioFields();
    void zeroPaddedPatterns();
    void optionalDigitPatterns();
    void setFrequencyCommands_data();
    void setFrequencyCommands();
    void modeDigits();
    void ritOffsetTexts();
    void fineTuneScale();
    void utcClock();
    void settingsRecordRoundTrip();
    void settingsRecordStopsAtFirstUnreadableField();
};

void TestNumbers::leadingNumberReadsLikeTheRadioFields()
{
    QCOMPARE(leadingNumber(QStringLiteral("+012")), 12.0);
    QCOMPARE(leadingNumber(QStringLiteral("-005")), -5.0);
    QCOMPARE(leadingNumber(QString()), 0.0);
    QCOMPARE(leadingNumber(QStringLiteral("abc12")), 0.0);
    QCOMPARE(leadingNumber(QStringLiteral(" 70 40.5 kHz")), 7040.5);
    QCOMPARE(leadingNumber(QStringLiteral("\t\n3500.5")), 3500.5);
    QCOMPARE(leadingNumber(QStringLiteral("12.5.6")), 12.5);
    QCOMPARE(leadingNumber(QStringLiteral(".5")), 0.5);
    QCOMPARE(leadingNumber(QStringLiteral("1-2")), 1.0);
    QCOMPARE(leadingNumber(QStringLiteral("-")), 0.0);
    QCOMPARE(leadingNumber(QStringLiteral("0014060000;")), 14060000.0);
    // A carriage return is not a blank: it ends the number.
    QCOMPARE(leadingNumber(QStringLiteral("1\r2")), 1.0);
    // Hundreds of digits saturate instead of reading as infinity.
    QCOMPARE(leadingNumber(QString(400, u'9')), std::numeric_limits<double>::max());
}

void TestNumbers::zeroPaddedPatterns()
{
    QCOMPARE(formatZeroPadded(14060, 5, 2), QStringLiteral("14060.00"));
    QCOMPARE(formatZeroPadded(7040.5, 5, 2), QStringLiteral("07040.50"));
    QCOMPARE(formatZeroPadded(135, 5, 2), QStringLiteral("00135.00"));
    QCOMPARE(formatZeroPadded(123456.789, 5, 2), QStringLiteral("123456.79"));
    QCOMPARE(formatZeroPadded(0.5, 3, 3), QStringLiteral("000.500"));
    QCOMPARE(formatZeroPadded(-0.25, 3, 3), QStringLiteral("-000.250"));
    QCOMPARE(formatZeroPadded(-0.05, 1, 2), QStringLiteral("-0.05"));
    QCOMPARE(formatZeroPadded(10, 4, 0), QStringLiteral("0010"));
    QCOMPARE(formatZeroPadded(5, 3, 0), QStringLiteral("005"));
    QCOMPARE(formatZeroPadded(1.52, 2, 0), QStringLiteral("02"));
    QCOMPARE(formatZeroPadded(1.48, 2, 0), QStringLiteral("01"));
    // Halves go away from zero, even when binary noise puts them just below.
    QCOMPARE(formatZeroPadded(7040.005, 5, 2), QStringLiteral("07040.01"));
    QCOMPARE(formatZeroPadded(-7040.005, 5, 2), QStringLiteral("-07040.01"));
    QCOMPARE(formatZeroPadded(2.5, 2, 0), QStringLiteral("03"));
    // A value that rounds to zero carries no minus sign.
    QCOMPARE(formatZeroPadded(-0.001, 1, 2), QStringLiteral("0.00"));
}

void TestNumbers::optionalDigitPatterns()
{
    QCOMPARE(formatOptionalDigits(7040, 2), QStringLiteral("7040."));
    QCOMPARE(formatOptionalDigits(7040.5, 2), QStringLiteral("7040.5"));
    QCOMPARE(formatOptionalDigits(7040.03, 2), QStringLiteral("7040.03"));
    QCOMPARE(formatOptionalDigits(7040.004, 2), QStringLiteral("7040."));
    QCOMPARE(formatOptionalDigits(0.5, 2), QStringLiteral(".5"));
    QCOMPARE(formatOptionalDigits(7040010, 0), QStringLiteral("7040010"));
    QCOMPARE(formatOptionalDigits(0, 0), QString());
    QCOMPARE(formatOptionalDigits(0.4, 0), QString());
    QCOMPARE(formatOptionalDigits(1e20, 0), QStringLiteral("100000000000000000000"));
}

void TestNumbers::setFrequencyCommands_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("boxText");
    QTest::addColumn<QString>("command");
    QTest::newRow("7040") << "FA" << "07040.00" << "FA00007040000;";
    QTest::newRow("14060") << "FA" << "14060.00" << "FA00014060000;";
    QTest::newRow("3500.5") << "FA" << "3500.5" << "FA00003500500;";
    QTest::newRow("10000 on B") << "FB" << "10000" << "FB00010000000;";
    QTest::newRow("28000.01") << "FA" << "28000.01" << "FA00028000010;";
    QTest::newRow("empty") << "FA" << "" << "FA0000;";
    QTest::newRow("no number on B") << "FB" << "abc" << "FB0000;";
    QTest::newRow("9999.99") << "FA" << "9999.99" << "FA00009999990;";
    QTest::newRow("rounds to the hertz") << "FA" << "7040.0125" << "FA00007040013;";
    QTest::newRow("blanks inside") << "FA" << " 14 060" << "FA00014060000;";
    // The prefix follows the kilohertz before rounding.
    QTest::newRow("just below 10000") << "FA" << "9999.9999" << "FA000010000000;";
}

void TestNumbers::setFrequencyCommands()
{
    QFETCH(QString, code);
    QFETCH(QString, boxText);
    QFETCH(QString, command);
    QCOMPARE(setFrequencyCommand(code, leadingNumber(boxText)), command);
}

void TestNumbers::modeDigits()
{
    QCOMPARE(modeButtonFor(u'1'), QStringLiteral("lsb_md"));
    QCOMPARE(modeButtonFor(u'2'), QStringLiteral("usb_md"));
    QCOMPARE(modeButtonFor(u'3'), QStringLiteral("cw_md"));
    QCOMPARE(modeButtonFor(u'6'), QStringLiteral("data_md"));
    QCOMPARE(modeButtonFor(u'7'), QStringLiteral("cwr_md"));
    QCOMPARE(modeButtonFor(u'9'), QStringLiteral("datar_md"));
    for (QChar other : {QChar(u'0'), QChar(u'4'), QChar(u'5'), QChar(u'8'), QChar(u';'), QChar()})
        QVERIFY(modeButtonFor(other).isEmpty());
}

void TestNumbers::ritOffsetTexts()
{
    QCOMPARE(ritOffsetText(0), QStringLiteral(" 0.00"));
    QCOMPARE(ritOffsetText(12), QStringLiteral("+0.12"));
    QCOMPARE(ritOffsetText(-5), QStringLiteral("-0.05"));
    QCOMPARE(ritOffsetText(100), QStringLiteral("+1.00"));
    QCOMPARE(ritOffsetText(-999), QStringLiteral("-9.99"));
    QCOMPARE(ritOffsetText(999), QStringLiteral("+9.99"));
}

void TestNumbers::fineTuneScale()
{
    QCOMPARE(fineTuneScaleText(10), QStringLiteral("    | -000.500  | 0 | +000.500 | khz"));
    QCOMPARE(fineTuneScaleText(100), QStringLiteral("    | -005.000  | 0 | +005.000 | khz"));
    // A negative increment shows its own sign after the fixed ones.
    QCOMPARE(fineTuneScaleText(-10), QStringLiteral("    | --000.500  | 0 | +-000.500 | khz"));
}

void TestNumbers::utcClock()
{
    QCOMPARE(utcClockText(QTime(17, 45, 10), QStringLiteral("+8")), QStringLiteral("01:45:10"));
    QCOMPARE(utcClockText(QTime(2, 0, 0), QStringLiteral("-5")), QStringLiteral("21:00:00"));
    QCOMPARE(utcClockText(QTime(9, 8, 7), QString()), QStringLiteral("09:08:07"));
    QCOMPARE(utcClockText(QTime(9, 8, 7), QStringLiteral("abc")), QStringLiteral("09:08:07"));
    // Corrected once only.
    QCOMPARE(utcClockText(QTime(10, 0, 0), QStringLiteral("+30")), QStringLiteral("16:00:00"));
    QCOMPARE(utcClockText(QTime(23, 59, 59), QStringLiteral("+1")), QStringLiteral("00:59:59"));
}

void TestNumbers::settingsRecordRoundTrip()
{
    const QByteArray record = formatSettingsRecord(3, QStringLiteral("10.0.0.7"), QStringLiteral("-5"), true, false);
    QCOMPARE(record, QByteArray("3,\"10.0.0.7\",\"-5\",#TRUE#,#FALSE#\r\n"));
    const SettingsRecord read = parseSettingsRecord(record);
    QCOMPARE(read.commPortNumber, std::optional<qint16>(3));
    QCOMPARE(read.hostAddress, std::optional<QString>(QStringLiteral("10.0.0.7")));
    QCOMPARE(read.utcOffset, std::optional<QString>(QStringLiteral("-5")));
    QCOMPARE(read.autoConnect, std::optional<bool>(true));
    QCOMPARE(read.debugOn, std::optional<bool>(false));

    // A quote typed into the address cannot end its field early.
    const QByteArray quoted = formatSettingsRecord(1, QStringLiteral("a\"b"), QStringLiteral("+8"), false, true);
    QCOMPARE(parseSettingsRecord(quoted).debugOn, std::optional<bool>(true));
    QCOMPARE(parseSettingsRecord(quoted).hostAddress, std::optional<QString>(QStringLiteral("ab")));

    // Spaces around fields are ignored; empty texts stay empty.
    const SettingsRecord spaced = parseSettingsRecord(" 12 , \"\" ,\"+8\" , #FALSE# ,#TRUE#\r\n");
    QCOMPARE(spaced.commPortNumber, std::optional<qint16>(12));
    QCOMPARE(spaced.hostAddress, std::optional<QString>(QString()));
    QCOMPARE(spaced.debugOn, std::optional<bool>(true));
}

void TestNumbers::settingsRecordStopsAtFirstUnreadableField()
{
    const SettingsRecord truncated = parseSettingsRecord("4,\"192.168.1.9\"");
    QCOMPARE(truncated.commPortNumber, std::optional<qint16>(4));
    QCOMPARE(truncated.hostAddress, std::optional<QString>(QStringLiteral("192.168.1.9")));
    QVERIFY(!truncated.utcOffset);

    const SettingsRecord badBoolean = parseSettingsRecord("2,\"h\",\"+1\",maybe,#TRUE#\r\n");
    QCOMPARE(badBoolean.utcOffset, std::optional<QString>(QStringLiteral("+1")));
    QVERIFY(!badBoolean.autoConnect);
    QVERIFY(!badBoolean.debugOn);

    QVERIFY(!parseSettingsRecord("\"quoted\",\"h\"").commPortNumber);
    QVERIFY(!parseSettingsRecord("99999,\"h\"").commPortNumber);
    QVERIFY(!parseSettingsRecord(QByteArray()).commPortNumber);
    QByteArray binary(5000, '\0');
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>(i * 37);
    QVERIFY(!parseSettingsRecord(binary).debugOn);
}

QTEST_GUILESS_MAIN(TestNumbers)
#include "tst_numbers.moc"
