#pragma once

#include "app/rmt_q9.h"
#include "pseudo_terminal.h"
#include "recording_dialogs.h"
#include "relay_server.h"
#include "sim_radio.h"
#include "simulated_line.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A panel as the operator starts it, in a working directory of its own
// (where its settings file and the comN port links live), with the radio's
// end of both links: the simulated radio behind a pseudo-terminal and behind
// the relay server. Everything the panel sends on either link is kept in
// `heard`.
class Station : public QObject
{
    Q_OBJECT

public:
    Station();
    ~Station() override;

    // The settings file: written before start(), read after the panel ended
    // ("<not a file>" when something else has its name).
    void writeSettings(const QByteArray &record);
    QByteArray settings() const;
    QString path(const QString &name) const { return m_dir.filePath(name); }

    // Builds the window, which runs its start-up.
    Rmt_Q9 &start() { return *(m_panel = std::make_unique<Rmt_Q9>(dialogs)); }
    Rmt_Q9 &panel() const { return *m_panel; }
    // A control, menu item or timer of the window by its designer name, if
    // it has one of that kind; see FIND_CONTROL.
    template<typename T = QObject> T *control(const QString &name) const
    {
        return m_panel->findChild<T *>(name);
    }

    // The radio's serial port, linked as the panel's port N (one line may
    // have several links); unplugging makes it vanish under the panel as a
    // pulled USB adapter does.
    void plugSerial(int portNumber = 1);
    void unplugSerial() { m_serial.reset(); }
    // Bytes the radio's end puts on the serial line, unasked.
    void writeSerial(const QByteArray &bytes) { m_serial->write(bytes); }
    // The relay server with the radio behind it on ADDRESS:PORT (0 picks a
    // free port, which relay()->endpoint() tells), and the relay program
    // ending.
    void startRelay(const QString &address, quint16 port = 2300);
    void stopRelay() { m_relay.reset(); }
    RelayServer *relay() const { return m_relay.get(); }

    // Runs the operator's steps, separated by "|":
    //   click NAME, trigger NAME (menu item), type NAME TEXT (click into a
    //   box and type), key NAME KEY (as QKeySequence names it; press NAME
    //   KEY and release NAME KEY hold it down and let it go), set NAME TEXT
    //   (the box's whole text, as pasted over it), paste NAME TEXT (at the
    //   caret), drag NAME POSITION, track NAME +|- (a click in the track),
    //   arrow NAME +|-, wheel NAME N (N notches up, or down when negative),
    //   reply TEXT (a reply reaching the panel), answer TEXT (what the next
    //   input box returns), close (the window), away (another window comes to
    //   the front and goes), menu NAME (a context menu opens over it),
    //   link serial | link server ADDRESS (Comm1 or the server chosen from
    //   the menu, and the radio's answers to the start-up query shown).
    // Stops at the first step that cannot be done and returns it with what
    // went wrong; returns nothing when all were done. See PERFORM.
    [[nodiscard]] QString perform(const QString &steps);
    // What the panel sends while the steps run: a marker sent after them
    // arrives after all of it, so nothing is missed and nothing is still on
    // its way. A step that cannot be done is returned in its place.
    QByteArray sentDuring(const QString &steps);
    // "NAME=SHOWN|NAME=SHOWN", with what those controls show now (see shown()).
    QString shows(const QString &expected) const;

    SimRadio radio;
    QByteArray heard;
    QStringList relayLog;
    RecordingDialogs dialogs;

signals:
    void heardChunk(const QByteArray &chunk);

private:
    class RelayedLine;

    // What the panel sent on either link: it reaches the radio and is kept.
    void hear(const QByteArray &chunk);
    QString performStep(const QString &step);
    QString showPanel();
    QString linkTo(const QString &link, const QString &address);

    QTemporaryDir m_dir;
    QString m_previousDir;
    std::unique_ptr<Rmt_Q9> m_panel;
    std::unique_ptr<PseudoTerminal> m_serial;
    std::unique_ptr<RelayedLine> m_relayLine;
    std::unique_ptr<RelayServer> m_relay;
};

// What the panel asks a radio once it has answered the probe.
inline const QByteArray StartUpQuery = QByteArrayLiteral("RA;FA;FB;FR;FT;PA;SQ;KS;GT;FW;PC;NB;IF;");
// What the panel sends on a link until a radio that answers the first probe
// reports its changes.
inline const QByteArray Linked = "id;q92;q9;" + StartUpQuery + "AI2;";

// What a control shows the operator, in a few words: a box's text (with its
// text colour when that carries meaning), a button's caption and back colour,
// a lamp's colour, an option's or menu item's check, a slider's value and
// maximum, a gauge's value and colour, "hidden", or a timer's period.
QString shown(const QObject *control);

// The status record that the simulated radio sends in this state.
inline QString statusRecord(const RadioState &state)
{
    return QString::fromLatin1(SimRadio::statusRecord(state));
}

// Runs the steps; the test fails at the first one that cannot be done,
// naming it, and ends there.
#define PERFORM(station, steps)                                                                              \
    do {                                                                                                     \
        const QString failedStep = (station).perform(steps);                                                 \
        QVERIFY2(failedStep.isEmpty(), qPrintable(failedStep));                                              \
    } while (false)

// Declares `variable`, the panel's control `name` as a T; the test fails and
// ends when the panel has none of that name and kind.
#define FIND_CONTROL(T, variable, station, name)                                                             \
    T *variable = (station).control<T>(name);                                                                \
    QVERIFY2(variable, qPrintable(QStringLiteral("the panel has no " #T " named %1").arg(QString(name))))

// Compares what the named controls show ("NAME=SHOWN|...") with the
// expectation, at once or as soon as round trips through the radio let it.
#define COMPARE_SHOWS(station, expected) QCOMPARE((station).shows(expected), QString(expected))
#define TRY_COMPARE_SHOWS(station, expected) QTRY_COMPARE((station).shows(expected), QString(expected))

// A loopback address whose port 2300 is free, so that tests running at the
// same time never meet there.
QString loopbackAddress();
