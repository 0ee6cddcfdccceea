#pragma once

#include "radio_line.h"
#include "sim_radio.h"

// The simulated radio as the relay's radio line: it takes commands at once,
// or at a serial line's pace when it is paced.
class SimulatedLine : public RadioLine
{
public:
    explicit SimulatedLine(SimRadio &radio, QObject *parent = nullptr)
        : RadioLine(parent)
        , m_radio(radio)
    {
        connect(&radio, &SimRadio::output, this, &RadioLine::received);
        connect(&radio, &SimRadio::commandsTaken, this, [this] {
            if (!isBusy())
                emit drained();
        });
    }

    void send(const QByteArray &commands) override { m_radio.receive(commands); }
    qint64 backlog() const override { return m_radio.pendingInput(); }
    std::chrono::milliseconds drainTime() const override { return m_radio.inputDrainTime(); }
    // The simulated radio's interface cable keys it by whichever line the
    // relay keys with.
    bool setControlLine(ControlLine, bool on) override
    {
        m_radio.holdPttLine(on);
        return true;
    }

private:
    SimRadio &m_radio;
};
