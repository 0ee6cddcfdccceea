#pragma once

#include "pseudo_terminal.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

class SimRadio;

// The radio's end of a serial link in a test: a pseudo-terminal whose
// master side the test holds; the panel opens the slave device. It keeps
// everything the panel sent, and a simulated radio can be put behind it.
class PtyPair : public QObject
{
    Q_OBJECT

public:
    PtyPair();

    QString slavePath() const { return m_pty.slavePath(); }
    void write(const QByteArray &bytes) { m_pty.write(bytes); }
    // Closes the radio's side: the panel's port sees the device vanish.
    void hangUp() { m_pty.close(); }
    // From now on the simulated radio answers whatever the panel sends.
    void answerWith(SimRadio &radio);

    // Everything the panel has sent so far.
    QByteArray received;
    // Called with each chunk as it arrives, to answer like a radio.
    std::function<void(const QByteArray &)> onReceive;

signals:
    void chunkReceived(const QByteArray &chunk);

private:
    void readChunk();

    PseudoTerminal m_pty;
};
