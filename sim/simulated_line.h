#pragma once

#include "radio_line.h"
#include "sim_radio.h"

// The simulated radio as the relay's radio line: it takes commands at once.
class SimulatedLine : public RadioLine
{
public:
    explicit SimulatedLine(SimRadio &radio, QObject *parent = nullptr)
        : RadioLine(parent)
        , m_radio(radio)
    {
        connect(&radio, &SimRadio::output, this, &RadioLine::received);
    }

    void send(const QByteArray &commands) override { m_radio.receive(commands); }
    qint64 backlog() const override { return 0; }

private:
    SimRadio &m_radio;
};
