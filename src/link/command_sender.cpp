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
    connect(&Comm1, &SerialControl::readyRead, this, &Rmt_Q9::Comm1_OnComm);
    connect(&tcpClient, &SocketControl::dataArrival, this, &Rmt_Q9::tcpClient_DataArrival);
    connect(&tcpClient, &SocketControl::sendComplete, this, &Rmt_Q9::tcpClient_SendComplete);
}

bool Rmt_Q9::SendCommand(const QString &command)
{
    g.TcpSendComplete = false;
    const QByteArray bytes = command.toLatin1();
    if (g.LinkIsTcp) {
        if (tcpClient.send(bytes))
            return true;
        showSendFailure(TcpSendFailure);
        return false;
    }
    if (Comm1.write(bytes))
        return true;
    showSendFailure(SerialSendFailure);
    return false;
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
