#pragma once

#include "pseudo_terminal.h"
#include "sim_radio.h"

#include <QString>

// The simulated radio as a real one is reached: behind its serial port, a
// pseudo-terminal linked where asked, at 4800 baud both ways. Everything it
// hears is kept.
struct RadioOnPort
{
    explicit RadioOnPort(const QString &link = {})
    {
        if (!port.open() || (!link.isEmpty() && !port.createLink(link)))
            qFatal("cannot open the radio's port: %s", qPrintable(port.errorString()));
        sim.setPaced(true);
        QObject::connect(&port, &PseudoTerminal::received, &sim, [this](const QByteArray &bytes) {
            heard += bytes;
            sim.receive(bytes);
        });
        QObject::connect(&sim, &SimRadio::output, &port, &PseudoTerminal::write);
    }

    PseudoTerminal port;
    SimRadio sim;
    QByteArray heard;
};
