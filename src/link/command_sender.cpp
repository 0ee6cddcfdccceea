#include "app/dialogs.h"
#include "app/rmt_q9.h"

namespace {
const QString TcpSendFailure
    = QStringLiteral("TCP/IP Communication Error - No Host!\r\nMake sure to connect to Host First");
const QString SerialSendFailure
    = QStringLiteral("Serial Communication Error - Check Comm Port and Radio Power");
} // namespace

void Rmt_Q9::wireLinks()
{
    connect(&Comm1, &RadioLink::received, this, &Rmt_Q9::Comm1_OnComm);
    connect(&tcpClient, &RadioLink::received, this, &Rmt_Q9::tcpClient_DataArrival);
    connect(&tcpClient, &RadioLink::sendComplete, this, &Rmt_Q9::tcpClient_SendComplete);
}

// The one place where the links are told apart: the socket while the server
// link is chosen, the serial port otherwise.
Rmt_Q9::ActiveLink Rmt_Q9::activeLink()
{
    if (g.LinkIsTcp)
        return {tcpClient, TcpSendFailure};
    return {Comm1, SerialSendFailure};
}

bool Rmt_Q9::isActive(const RadioLink &link)
{
    return &activeLink().control == &link;
}

bool Rmt_Q9::SendCommand(const QString &command)
{
    g.TcpSendComplete = false;
    const ActiveLink link = activeLink();
    m_sending = true;
    const bool sent = link.control.send(command.toLatin1());
    m_sending = false;
    if (!sent)
        showSendFailure(link.sendFailure);
    return sent;
}

// A failure box is modal but keeps the event loop running, so timers, socket
// events and waiting handlers go on sending while it is open. With a dead
// link each would open another box on top; one box at a time is enough to
// tell the operator, and the sends that fail meanwhile are dropped as any
// failed send is.
void Rmt_Q9::showSendFailure(const QString &text)
{
    if (m_sendFailureShown)
        return;
    m_sendFailureShown = true;
    m_dialogs.message(this, text, Dialogs::Icon::None);
    m_sendFailureShown = false;
}

void Rmt_Q9::tcpClient_SendComplete()
{
    g.TcpSendComplete = true;
}
