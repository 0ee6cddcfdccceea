#include "app/dialogs.h"
#include "app/rmt_q9.h"
#include "link/server_address.h"
#include "ui_rmt_q9.h"

#include <QRegularExpression>
#include <QSettings>

// The receiver's audio, when the relay offers it: played while the server
// link is up and "Audio" is checked. The choice is kept in a file of its
// own beside the settings file, whose record stays as it is. Its boxes are
// notices: the window, and any wait for the radio, go on while they are open.
namespace {
const QString ChoiceFile = QStringLiteral("q9audio.ini");
const QString ChoiceKey = QStringLiteral("Audio");
} // namespace

void Rmt_Q9::wireAudio()
{
    connect(ui->audio_on, &QAction::triggered, this, &Rmt_Q9::audio_on_Click);
    connect(&m_audio, &RemoteAudio::failed, this,
            [this](const QString &why) { m_dialogs.notice(this, why, Dialogs::Icon::Warning); });
    // Checked on a first start.
    ui->audio_on->setChecked(QSettings(ChoiceFile, QSettings::IniFormat).value(ChoiceKey, true).toBool());
}

void Rmt_Q9::audio_on_Click()
{
    QSettings(ChoiceFile, QSettings::IniFormat).setValue(ChoiceKey, ui->audio_on->isChecked());
    if (ui->audio_on->isChecked())
        followAudioOffer();
    else
        m_audio.stop();
}

// The relay's greeting names its audio port ("audio=2302") before its ';',
// and a relay that serves UDP gives the panel its pass before that
// ("udp=PASS audio=2302;"); any other greeting offers no audio.
void Rmt_Q9::noteAudioOffer(const QString &greeting)
{
    static const QRegularExpression offer(
        QStringLiteral("(?:\\budp=([A-Za-z0-9_-]+) )?\\baudio=(\\d{1,5});$"));
    const QRegularExpressionMatch match = offer.match(greeting);
    m_audioPort = match.hasMatch() ? match.captured(2).toUShort() : 0;
    m_audioPass = match.hasMatch() ? AudioPass::fromText(match.captured(1)) : std::nullopt;
}

// A relay whose audio stopped greets again without it: the player, which
// would otherwise keep trying, stops until the audio is offered again.
void Rmt_Q9::followAudioOffer()
{
    if (m_audioPort == 0)
        return m_audio.stop();
    if (!ui->audio_on->isChecked() || !g.LinkIsTcp || !g.ServerConnected || m_audio.isPlaying())
        return;
    // A secure link's audio comes from the relay the link was accepted with.
    const ServerAddress server = serverAddressFrom(g.HostAddress);
    m_audio.play({server.host, m_audioPort, m_audioPass, tlsFor(server), tcpClient.peerKey()});
}
