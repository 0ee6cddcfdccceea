#include "app/rmt_q9.h"
#include "link/event_wait.h"
#include "ui_rmt_q9.h"

#include <QApplication>

namespace {
// A send that never completes (the relay gone mid-release) must not hold
// the release, or the program's exit, for ever; a program being stopped
// waits less still.
constexpr double SendCompleteBound = 2.0;
constexpr double StoppingSendCompleteBound = 0.25;
constexpr double SignOffGrace = 0.5;
} // namespace

void Rmt_Q9::wireShutDown()
{
    connect(ui->exit_cmd, &QAction::triggered, this, &Rmt_Q9::exit_cmd_Click);
}

void Rmt_Q9::QueryRadioState()
{
    SendCommand(QStringLiteral("RA;FA;FB;FR;FT;PA;SQ;KS;GT;FW;PC;NB;"));
    SendCommand(QStringLiteral("IF;"));
}

// Takes the radio out of its reporting mode, stops the poll, ends the
// links of the local CAT port's programs, hides the link indicators and
// signs off from the relay server. The serial port stays open until the
// next port is opened.
void Rmt_Q9::ReleaseLink()
{
    m_pushToTalk.release();
    if (g.RadioPresent)
        SendCommand(QStringLiteral("AI0;"));
    stopSmeterPoll();
    m_audio.stop();
    m_catPort.leave();
    ui->Server_Conn->hide();
    ui->Q9_present_ind->hide();
    if (!isActive(tcpClient))
        return;
    // A socket that is no longer connected will report nothing more, and
    // has nobody to sign off to.
    waitUntil([this] { return g.TcpSendComplete || !tcpClient.isOpen(); },
              m_stopping ? StoppingSendCompleteBound : SendCompleteBound);
    if (tcpClient.isOpen()) {
        tcpClient.expectRemoteClose();
        SendCommand(QStringLiteral("##"));
        // The relay closes its end once it has the sign-off.
        waitUntil([this] { return !tcpClient.isOpen(); }, SignOffGrace);
    }
    tcpClient.close();
}

// The link went away under the panel: the relay closed it, the network
// failed, the serial adapter was pulled out. Nothing shows it as up and
// nothing polls it any more; the radio is no longer there, so the release
// that follows has nothing to tell it.
void Rmt_Q9::linkLost()
{
    g.RadioPresent = false;
    g.ServerConnected = false;
    m_pushToTalk.dropLink();
    stopSmeterPoll();
    m_audio.stop();
    m_catPort.leave();
    ui->Server_Conn->hide();
    ui->Q9_present_ind->hide();
}

void Rmt_Q9::ResetLinkSelection()
{
    ReleaseLink();
    for (int n = 1; n <= 10; ++n)
        findChild<QAction *>(QStringLiteral("Setcomm%1").arg(n))->setChecked(false);
}

// Closing the window and "Exit" both end here, once: release, then save.
void Rmt_Q9::Form_Unload()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    ReleaseLink();
    SaveSettings();
}

// The program is being stopped with nobody to answer: every wait of the
// operator's sequences ends at once, and the window closes as if the
// operator had closed it, releasing the link and saving the settings.
void Rmt_Q9::stop()
{
    m_stopping = true;
    close();
}

void Rmt_Q9::exit_cmd_Click()
{
    Form_Unload();
    QApplication::quit();
}
