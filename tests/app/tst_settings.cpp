#include "panel_fixture.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTest>

namespace {
const QByteArray DefaultRecord = "1,\"192.168.1.20\",\"+8\",#FALSE#,#FALSE#\r\n";

QStringList checkedPortItems(const PanelFixture &fixture)
{
    QStringList checked;
    for (int n = 1; n <= 10; ++n) {
        const QString name = QStringLiteral("Setcomm%1").arg(n);
        if (fixture.panel().findChild<QAction *>(name)->isChecked())
            checked.append(name);
    }
    return checked;
}
} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void firstStartWritesTheDefaults();
    void recordSetsMenusAndConsole();
    void exitWritesTheCurrentValues();
    void unreadableFilesNeverStopTheProgram();
};

void TestSettings::firstStartWritesTheDefaults()
{
    PanelFixture fixture;
    fixture.start();
    QCOMPARE(fixture.readSettings(), DefaultRecord);
    QCOMPARE(checkedPortItems(fixture), QStringList{QStringLiteral("Setcomm1")});
    QVERIFY(!fixture.control<QAction>("Auto_comm_con")->isChecked());
    QVERIFY(!fixture.control<QAction>("debug_on")->isChecked());
    QVERIFY(fixture.control<QWidget>("Text1")->isHidden());
    QCOMPARE(fixture.globals().HostAddress, QStringLiteral("192.168.1.20"));
    QCOMPARE(fixture.globals().UtcOffset, QStringLiteral("+8"));
    QCOMPARE(fixture.globals().CommPortNumber, qint16(1));
    QVERIFY(!fixture.globals().LinkIsSerial);
    QVERIFY(fixture.dialogs.messages.isEmpty());
}

void TestSettings::recordSetsMenusAndConsole()
{
    {
        PanelFixture fixture;
        fixture.writeSettings("3,\"10.1.1.1\",\"-5\",#FALSE#,#TRUE#\r\n");
        fixture.start();
        QCOMPARE(checkedPortItems(fixture), QStringList{QStringLiteral("Setcomm3")});
        QVERIFY(fixture.control<QAction>("debug_on")->isChecked());
        for (const char *console : {"Debug_send", "send_cmd", "Text1", "Label4", "Label10"})
            QVERIFY2(!fixture.control<QWidget>(console)->isHidden(), console);
        QCOMPARE(fixture.globals().HostAddress, QStringLiteral("10.1.1.1"));
        QCOMPARE(fixture.globals().UtcOffset, QStringLiteral("-5"));
    }
    {
        // A port beyond the menu checks nothing and is kept as it was.
        PanelFixture fixture;
        fixture.writeSettings("12,\"h\",\"+8\",#FALSE#,#FALSE#\r\n");
        fixture.start();
        QVERIFY(checkedPortItems(fixture).isEmpty());
        fixture.control<QAction>("exit_cmd")->trigger();
        QVERIFY(fixture.readSettings().startsWith("12,"));
    }
    {
        // Toggled twice, auto-connect is back where it was and nothing opened.
        PanelFixture fixture;
        fixture.start();
        auto *autoConnect = fixture.control<QAction>("Auto_comm_con");
        autoConnect->trigger();
        QVERIFY(fixture.globals().AutoConnect);
        autoConnect->trigger();
        QVERIFY(!fixture.globals().AutoConnect);
        QVERIFY(!fixture.globals().LinkIsSerial);
        QVERIFY(fixture.dialogs.messages.isEmpty());
    }
}

void TestSettings::exitWritesTheCurrentValues()
{
    PanelFixture fixture;
    fixture.start();
    fixture.dialogs.inputAnswers = {QStringLiteral("-5")};
    fixture.control<QAction>("set_UTC")->trigger();
    fixture.control<QAction>("debug_on")->trigger();
    fixture.control<QAction>("Auto_comm_con")->trigger();
    // Nothing is written before shut-down.
    QCOMPARE(fixture.readSettings(), DefaultRecord);
    fixture.control<QAction>("exit_cmd")->trigger();
    QCOMPARE(fixture.readSettings(), QByteArray("1,\"192.168.1.20\",\"-5\",#TRUE#,#TRUE#\r\n"));

    // Closing the window saves too, once.
    PanelFixture closing;
    closing.start();
    closing.dialogs.inputAnswers = {QStringLiteral("+2")};
    closing.control<QAction>("set_UTC")->trigger();
    closing.panel().close();
    QCOMPARE(closing.readSettings(), QByteArray("1,\"192.168.1.20\",\"+2\",#FALSE#,#FALSE#\r\n"));
}

void TestSettings::unreadableFilesNeverStopTheProgram()
{
    {
        // Garbage: the first field cannot be read, everything keeps its start value.
        PanelFixture fixture;
        QByteArray garbage;
        for (int i = 0; i < 200000; ++i)
            garbage.append(static_cast<char>((i * 131) % 256));
        fixture.writeSettings(garbage);
        fixture.start();
        QVERIFY(checkedPortItems(fixture).isEmpty());
        QVERIFY(!fixture.globals().AutoConnect);
        QVERIFY(fixture.dialogs.messages.isEmpty());
    }
    {
        // Cut short: what was read stays, the rest keeps its start value.
        PanelFixture fixture;
        fixture.writeSettings("4,\"10.0.0.9\"");
        fixture.start();
        QCOMPARE(checkedPortItems(fixture), QStringList{QStringLiteral("Setcomm4")});
        QCOMPARE(fixture.globals().HostAddress, QStringLiteral("10.0.0.9"));
        QVERIFY(fixture.globals().UtcOffset.isEmpty());
        QVERIFY(!fixture.globals().DebugOn);
    }
    {
        // A settings file that can be neither read nor written: defaults,
        // no message, and shut-down goes through.
        PanelFixture fixture;
        QVERIFY(QDir(fixture.path(QString())).mkdir(QStringLiteral("d9iduzid.ini")));
        fixture.start();
        QCOMPARE(fixture.globals().CommPortNumber, qint16(1));
        QCOMPARE(fixture.globals().UtcOffset, QStringLiteral("+8"));
        fixture.control<QAction>("exit_cmd")->trigger();
        QVERIFY(fixture.dialogs.messages.isEmpty());
        QVERIFY(QFileInfo(fixture.path(QStringLiteral("d9iduzid.ini"))).isDir());
    }
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
