#include "app/rmt_q9.h"

void Rmt_Q9::ReceiveText(const QString &chunk)
{
    if (g.DebugOn)
        appendDebugText(chunk);
    for (const QByteArray &reply : RxBuffer.feed(chunk.toLatin1()))
        HandleReply(QString::fromLatin1(reply));
}

void Rmt_Q9::Comm1_OnComm(const QByteArray &received)
{
    receiveFrom(Comm1, received);
}

void Rmt_Q9::tcpClient_DataArrival(const QByteArray &data)
{
    receiveFrom(tcpClient, data);
}

// Only the active link's text is interpreted. Once the server link is chosen
// the serial port stays open, and a radio left in its reporting mode there
// would end the server's waits and write its own state into the panel: its
// text is dropped.
void Rmt_Q9::receiveFrom(const RadioLink &link, const QByteArray &bytes)
{
    if (isActive(link))
        ReceiveText(QString::fromLatin1(bytes));
}
