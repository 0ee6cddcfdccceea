#include "app/rmt_q9.h"

void Rmt_Q9::ReceiveText(const QString &chunk)
{
    if (g.DebugOn)
        appendDebugText(chunk);
    for (const QString &reply : RxBuffer.feed(chunk))
        HandleReply(reply);
}

// Every event of the serial control hands on whatever is waiting, even
// nothing at all.
void Rmt_Q9::Comm1_OnComm()
{
    ReceiveText(QString::fromLatin1(Comm1.readAll()));
}

void Rmt_Q9::tcpClient_DataArrival()
{
    ReceiveText(QString::fromLatin1(tcpClient.readAll()));
}
