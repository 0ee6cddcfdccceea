#include "app/dialogs.h"
#include "app/held_key.h"
#include "app/panel_colours.h"
#include "app/rmt_q9.h"
#include "ui_rmt_q9.h"

#include <QSettings>

// The operator's push-to-talk: a key held down, wherever the window's focus
// is (F12 unless the operator chose another, kept in a file of its own
// beside the settings file), or Options > Transmit. The title and a red
// lamp beside the link lamps say when it transmits, and the microphone
// goes to the relay only then.
namespace {
const QString ChoiceFile = QStringLiteral("q9transmit.ini");
const QString KeyChoice = QStringLiteral("PushToTalkKey");
const QKeySequence DefaultKey(Qt::Key_F12);
const QString TransmittingTitle = QStringLiteral(" - TRANSMITTING");

} // namespace

void Rmt_Q9::wireTransmit()
{
    showStateByColour(ui->tx_lamp);
    setBackColour(ui->tx_lamp, PanelColour::Transmitting);
    m_heldKey = new HeldKey(
        this, [this](bool pressed) { pressed ? m_pushToTalk.press() : m_pushToTalk.release(); });
    m_heldKey->setKey(pushToTalkKey());
    m_receiveTitle = windowTitle();
    showTransmitting(false);
    connect(ui->transmit_cmd, &QAction::triggered, this, &Rmt_Q9::transmit_cmd_Click);
    connect(ui->ptt_key, &QAction::triggered, this, &Rmt_Q9::ptt_key_Click);
    connect(&m_pushToTalk, &PushToTalk::send, this, [this](const QString &command) { SendCommand(command); });
    connect(&m_pushToTalk, &PushToTalk::pressedChanged, this, &Rmt_Q9::showTransmitting);
    connect(&m_pushToTalk, &PushToTalk::pressedChanged, &m_audio, &RemoteAudio::setTransmitting);
    connect(&m_pushToTalk, &PushToTalk::stoppedByRelay, this, [this](const QString &why) {
        m_dialogs.notice(this, QStringLiteral("The relay stopped the transmission: %1.").arg(why),
                         Dialogs::Icon::Warning);
    });
}

QKeySequence Rmt_Q9::pushToTalkKey() const
{
    const QString chosen = QSettings(ChoiceFile, QSettings::IniFormat).value(KeyChoice).toString();
    const QKeySequence key = QKeySequence::fromString(chosen);
    return key.isEmpty() ? DefaultKey : key;
}

void Rmt_Q9::transmit_cmd_Click()
{
    if (ui->transmit_cmd->isChecked())
        m_pushToTalk.press();
    else
        m_pushToTalk.release();
}

// One key, without modifiers beyond what it needs, that the window does not
// use for anything else.
void Rmt_Q9::ptt_key_Click()
{
    const QString typed
        = m_dialogs.input(this, QStringLiteral("Push-to-talk key (for example F12, Pause or Space):"),
                          QStringLiteral("Push-to-Talk Key"), pushToTalkKey().toString());
    if (typed.isEmpty())
        return;
    const QKeySequence key = QKeySequence::fromString(typed);
    if (key.count() != 1 || key[0].key() == Qt::Key_unknown) {
        m_dialogs.notice(this, QStringLiteral("\"%1\" is not a key.").arg(typed), Dialogs::Icon::Warning);
        return;
    }
    QSettings(ChoiceFile, QSettings::IniFormat).setValue(KeyChoice, key.toString());
    m_heldKey->setKey(key);
}

void Rmt_Q9::showTransmitting(bool transmitting)
{
    ui->transmit_cmd->setChecked(transmitting);
    setWindowTitle(transmitting ? m_receiveTitle + TransmittingTitle : m_receiveTitle);
    ui->tx_lamp->setVisible(transmitting);
}
