#pragma once

#include "cat_commands.h"
#include "framer.h"
#include "line_pacer.h"
#include "signal_meter.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QObject>
#include <QTimer>

#include <array>
#include <chrono>
#include <tuple>

// Everything the radio remembers that a command can read or change.
struct RadioState
{
    std::array<qint64, 2> vfo = {14'060'000, 7'030'000};
    int receiveVfo = 0;
    int transmitVfo = 0;
    int mode = 2;
    int crystalFilter = 1;
    int audioFilter = 0;
    int agcSpeed = 2;
    bool agcOn = true;
    int blanker = 0;
    int blankerLevel = 0;
    int antenna = 1;
    int attenuator = 0;
    int preamp = 0;
    int powerTenths = 100;
    int keyerSpeed = 20;
    int squelch = 0;
    int offset = 0;
    bool rit = false;
    bool xit = false;
    bool transmitting = false;
    bool autoInformation = false;
};

// A Q9 transceiver without the hardware: command bytes go in through
// receive(), the radio's replies come out of output(). No I/O of its own,
// so it can sit behind a pseudo-terminal, a relay server or a test.
class SimRadio : public QObject
{
    Q_OBJECT

public:
    enum class ProbeAnswer { Always, AfterFirst, Never };
    enum class PowerForm { Long, Short };

    static constexpr qint64 LowestFrequency = 30'000;
    static constexpr qint64 HighestFrequency = 60'000'000;
    static constexpr std::chrono::milliseconds DefaultTuneDuration{3000};

    explicit SimRadio(QObject *parent = nullptr);

    void setProbeAnswer(ProbeAnswer answer);
    void setSilent(bool silent);
    // Takes commands and answers at the pace of a 4800-baud line.
    void setPaced(bool paced);
    void setPowerForm(PowerForm form);
    // Also scales how long CW text keeps the transmitter on.
    // The interface cable's push-to-talk line: the radio transmits while it
    // is held, and tells so as "TX;" would.
    void holdPttLine(bool held);
    void setTuneDuration(std::chrono::milliseconds duration);
    void setSeed(quint32 seed);
    bool setVfoA(qint64 hz);
    bool setVfoB(qint64 hz);
    bool setMode(int digit);

    // The status record ("IF") of a radio in this state; the digit at
    // TransmitDigit is 1 while it transmits.
    static QByteArray statusRecord(const RadioState &state);
    static constexpr int TransmitDigit = 28;
    const RadioState &state() const { return m_state; }
    // What it has been sent that has not reached it yet, paced.
    qsizetype pendingInput() const { return m_inputPacer.pending(); }
    std::chrono::milliseconds inputDrainTime() const { return m_inputPacer.drainTime(); }

public slots:
    void receive(const QByteArray &bytes);

signals:
    void output(const QByteArray &bytes);
    // It has taken commands, which may have changed its state.
    void commandsTaken();

private:
    struct Setting;
    using Handler = bool (SimRadio::*)(QByteArrayView argument);
    struct Snapshot
    {
        QList<QByteArray> reports;
        std::tuple<int, bool, bool, bool> status;
    };
    static const Setting settings[];

    static Handler handlerFor(const QByteArray &code);
    void take(const QByteArray &bytes);
    void execute(QByteArrayView command);
    bool answerQuery(const QByteArray &code);
    QByteArray reportFor(const QByteArray &code);
    bool dispatch(const QByteArray &code, QByteArrayView argument);
    void send(const QByteArray &bytes);
    bool answer(const QByteArray &reply);

    Snapshot snapshot() const;
    void reportChangesSince(const Snapshot &before);
    void endTransmission();

    bool settingCommand(const Setting &setting, QByteArrayView argument);
    bool vfoACommand(QByteArrayView argument);
    bool vfoBCommand(QByteArrayView argument);
    bool frequencyCommand(int vfo, QByteArrayView argument);
    bool filterCommand(QByteArrayView argument);
    bool agcCommand(QByteArrayView argument);
    bool modeCommand(QByteArrayView argument);
    bool blankerCommand(QByteArrayView argument);
    bool powerCommand(QByteArrayView argument);
    bool stepUpCommand(QByteArrayView argument);
    bool stepDownCommand(QByteArrayView argument);
    bool switchCommand(QByteArrayView argument);
    bool offsetUpCommand(QByteArrayView argument);
    bool offsetDownCommand(QByteArrayView argument);
    bool offsetClearCommand(QByteArrayView argument);
    bool ritCommand(QByteArrayView argument);
    bool xitCommand(QByteArrayView argument);
    bool keyCommand(QByteArrayView argument);
    bool transmitCommand(QByteArrayView argument);
    bool receiveCommand(QByteArrayView argument);
    bool autoInformationCommand(QByteArrayView argument);
    bool probeCommand(QByteArrayView argument);

    QByteArray settingReport(const Setting &setting) const;
    QByteArray frequencyReport(int vfo) const;
    QByteArray filterReport() const;
    QByteArray agcReport() const;
    QByteArray modeReport() const;
    QByteArray blankerReport() const;
    QByteArray powerReport() const;
    QByteArray statusRecord() const;

    bool setFrequency(int vfo, qint64 hz);
    bool step(QByteArrayView argument, int direction);
    bool moveOffset(QByteArrayView argument, int hz);
    bool flagCommand(QByteArrayView argument, bool &flag);
    void changeBand(int direction);
    void toggleTune();
    void transmitFor(std::chrono::milliseconds duration);
    void stopTransmitting();
    std::chrono::milliseconds keyingTime(QByteArrayView text) const;
    bool answersProbe() const;

    RadioState m_state;
    QList<qint64> m_bandMemory;
    Framer m_input{CatCommand::MaxLength};
    LinePacer m_inputPacer;
    LinePacer m_pacer;
    SignalMeter m_meter;
    QTimer m_transmitTimer;
    std::chrono::milliseconds m_tuneDuration = DefaultTuneDuration;
    ProbeAnswer m_probeAnswer = ProbeAnswer::Always;
    PowerForm m_powerForm = PowerForm::Long;
    int m_probesSeen = 0;
    bool m_silent = false;
};
