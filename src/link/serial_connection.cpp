#include "app/dialogs.h"
#include "app/rmt_q9.h"
#include "link/event_wait.h"
#include "ui_rmt_q9.h"

namespace {
constexpr int PortCount = 10;
}

void Rmt_Q9::wireSerialConnection()
{
    for (int n = 1; n <= PortCount; ++n) {
        QAction *item = findChild<QAction *>(QStringLiteral("Setcomm%1").arg(n));
        connect(item, &QAction::triggered, this, [this, n] { Setcomm_Click(n); });
    }
    connect(ui->Auto_comm_con, &QAction::triggered, this, &Rmt_Q9::Auto_comm_con_Click);
    connect(&Comm1, &RadioLink::failed, this, &Rmt_Q9::Comm1_Lost);
}

// Opens port CommPortNumber at the radio's line settings and probes for the
// radio; once it has answered, fills the panel and turns on its reports.
void Rmt_Q9::OpenSerialLink()
{
    g.LinkIsTcp = false;
    g.ReplyTimeout = 0.5;
    Comm1.close();
    if (!Comm1.open(g.CommPortNumber)) {
        m_dialogs.message(this, QStringLiteral("Comm Port in use or invalid. Please chose another port"),
                          Dialogs::Icon::Warning);
        return;
    }
    Comm1.configure();

    g.LinkIsSerial = true;
    g.LinkIsTcp = false;
    if (!probeForRadio()) {
        m_dialogs.message(
            this, QStringLiteral("Q9 is not responding. Please check radio power and RS232 Comm port."),
            Dialogs::Icon::Warning);
        Comm1.close();
        return;
    }
    QueryRadioState();
    SendCommand(QStringLiteral("AI2;"));
}

// Asks whether a radio is there, on whichever link is active: "id;" gives a
// radio time to wake, "q92;q9;" is the real probe, "q9;" a second chance.
// Returns whether a radio answered.
bool Rmt_Q9::probeForRadio()
{
    g.RadioPresent = false;
    ui->Q9_present_ind->hide();
    const auto ask = [this](const QString &probe) {
        g.AwaitingReply = true;
        SendCommand(probe);
        WaitForReply();
    };
    ask(QStringLiteral("id;"));
    ask(QStringLiteral("q92;q9;"));
    if (!g.RadioPresent)
        ask(QStringLiteral("q9;"));
    return g.RadioPresent;
}

// The port's device vanished (a USB adapter pulled out). A link that was
// up shows as down, and the operator is told once, as a failed send tells:
// by the send that found the device gone, or else here. The poll, stopped
// with it, sends nothing more to fail. During a probe the probe's own sends
// tell, and under the server link the port's loss changes nothing.
void Rmt_Q9::Comm1_Lost()
{
    if (!isActive(Comm1) || !g.RadioPresent)
        return;
    linkLost();
    if (!m_sending)
        showSendFailure(activeLink().sendFailure);
}

// Any reply ends the wait, not only the one the probe asked for.
void Rmt_Q9::WaitForReply()
{
    waitUntil([this] { return !g.AwaitingReply || m_stopping; }, g.ReplyTimeout);
}

void Rmt_Q9::Setcomm_Click(int portNumber)
{
    ResetLinkSelection();
    checkPortItem(portNumber);
    g.CommPortNumber = static_cast<qint16>(portNumber);
    OpenSerialLink();
}

// Puts the check mark on port n's item; a number without an item checks none.
void Rmt_Q9::checkPortItem(int portNumber)
{
    if (QAction *item = findChild<QAction *>(QStringLiteral("Setcomm%1").arg(portNumber)))
        item->setChecked(true);
}

// The choice takes effect at the next start, once the settings file holds it.
void Rmt_Q9::Auto_comm_con_Click()
{
    g.AutoConnect = ui->Auto_comm_con->isChecked();
}

void Rmt_Q9::autoConnectStep()
{
    if (g.AutoConnect)
        OpenSerialLink();
}
