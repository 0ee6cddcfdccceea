#include "app/rmt_q9.h"

void Rmt_Q9::ReceiveText(const QString &chunk)
{
    if (g.DebugOn)
        appendDebugText(chunk);
    for (const QString &reply : RxBuffer.feed(chunk))
        HandleReply(reply);
}

// Every event of the serial control hands on whatever is waiting, even
// nothing at all. Once the server link is chosen the port stays open, and a
// radio left in its reporting mode there would end the server's waits and
// write its own state into the panel: its text is read and dropped.
void Rmt_Q9::Comm1_OnComm()
{
    const QByteArray received = Comm1.readAll();
    if (!g.LinkIsTcp)
        ReceiveText(QString::fromLatin1(received));
}

void Rmt_Q9::tcpClient_DataArrival()
{
    ReceiveText(QString::fromLatin1(tcpClient.readChunk()));
}
