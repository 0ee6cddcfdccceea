#include "pty_pair.h"

#include "sim_radio.h"

PtyPair::PtyPair()
{
    m_pty.open();
    connect(&m_pty, &PseudoTerminal::readyRead, this, &PtyPair::readChunk);
}

void PtyPair::answerWith(SimRadio &radio)
{
    connect(this, &PtyPair::chunkReceived, &radio, &SimRadio::receive);
    connect(&radio, &SimRadio::output, &m_pty, &PseudoTerminal::write);
}

void PtyPair::readChunk()
{
    const QByteArray chunk = m_pty.readAll();
    if (chunk.isEmpty())
        return;
    received += chunk;
    if (onReceive)
        onReceive(chunk);
    emit chunkReceived(chunk);
}
