#include "app/dialogs.h"
#include "app/rmt_q9.h"
#include "link/server_address.h"
#include "ui_rmt_q9.h"

void Rmt_Q9::wireServerConnection()
{
    connect(ui->Set_Host_Addr, &QAction::triggered, this, &Rmt_Q9::Set_Host_Addr_Click);
    connect(&tcpClient, &SocketControl::connected, this, &Rmt_Q9::tcpClient_Connect);
    connect(&tcpClient, &RadioLink::failed, this, &Rmt_Q9::tcpClient_Error);
}

// Connects to the relay server, waits for its greeting, then probes for the
// radio behind it as the serial link does.
void Rmt_Q9::Set_Host_Addr_Click()
{
    g.RadioPresent = false;
    g.ServerConnected = false;
    ui->Auto_comm_con->setChecked(false);
    g.AutoConnect = false;
    ResetLinkSelection();
    g.ReplyTimeout = 5;
    g.HostAddress = m_dialogs.input(this, QStringLiteral("Enter Q9 Remote Server iP Address if needed"),
                                    QStringLiteral("Host iP"), g.HostAddress);
    g.LinkIsTcp = true;
    g.LinkIsSerial = false;

    g.AwaitingReply = true;
    const ServerAddress server = serverAddressFrom(g.HostAddress);
    if (!startServerLink(server)) {
        tcpClient.close();
        g.LinkIsTcp = false;
        return;
    }
    WaitForReply();
    if (!g.ServerConnected) {
        m_dialogs.message(this,
                          QStringLiteral("TCPiP Timeout - R9Ezuziz not found. Check iP address and make sure "
                                         "R9Ezuziz is running."),
                          Dialogs::Icon::Warning);
        tcpClient.close();
        g.LinkIsTcp = false;
        return;
    }
    ui->Server_Conn->show();
    m_catPort.ride(server, tlsFor(server), tcpClient.peerKey());

    if (!probeForRadio()) {
        // The server stays linked: only the radio behind it is silent.
        m_dialogs.message(
            this, QStringLiteral("Q9 is not responding. Please check radio power and Host RS232 Comm port."),
            Dialogs::Icon::Warning);
        return;
    }
    QueryRadioState();
    SendCommand(QStringLiteral("AI2;"));
}

// A secure link goes on only with a relay key the operator trusts; false
// when it was given up, the operator told why.
bool Rmt_Q9::startServerLink(const ServerAddress &server)
{
    if (server.secure && !panelKey())
        return false;
    tcpClient.connectToRemote(server, tlsFor(server));
    return !server.secure || !relayKeyRefused(server);
}

// The connection counts only once the greeting has arrived.
void Rmt_Q9::tcpClient_Connect()
{
    if (g.DebugOn)
        replaceDebugText(QStringLiteral("Connected"));
}

// Once the greeting has come, an error means the connection is gone: the
// panel shows no link any more, and then the box tells why.
void Rmt_Q9::tcpClient_Error(const QString &description)
{
    if (isActive(tcpClient) && g.ServerConnected)
        linkLost();
    m_dialogs.message(this,
                      description + QStringLiteral("\r\nConnect to Host First (With Correct iP address)"),
                      Dialogs::Icon::None);
}
