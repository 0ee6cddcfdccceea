#pragma once

#include "app/q9_globals.h"
#include "audio/remote_audio.h"
#include "framer.h"
#include "identity.h"
#include "link/local_cat_port.h"
#include "link/push_to_talk.h"
#include "link/serial_control.h"
#include "link/server_address.h"
#include "link/socket_control.h"

#include <QMainWindow>
#include <QTime>
#include <QTimer>

#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <utility>

class Dialogs;
class HeldKey;
class RadioLink;
class RelayPins;
class ReplyFields;
class QAbstractButton;
class QCloseEvent;
class QWheelEvent;

namespace Ui {
class Rmt_Q9;
}

// The remote front panel: the program's one window. Its handlers are named
// after their control and event and live in the folder of their subsystem:
// app (start-up, settings, timers, debug console), link (sending, framing,
// connecting), cat (replies into the panel), panel (switches, sliders, CW)
// and tuning (VFOs, steps, fine tune, RIT/XIT).
class Rmt_Q9 : public QMainWindow
{
    Q_OBJECT

public:
    // No reply is longer; noise that never ends one is dropped whole.
    static constexpr qsizetype MaxReply = 4096;

    explicit Rmt_Q9(Dialogs &dialogs, QWidget *parent = nullptr);
    ~Rmt_Q9() override;

    // The clock's view of local time; tests drive it instead of waiting.
    void setLocalTimeSource(std::function<QTime()> source);

    const Q9_globals &globals() const { return g; }

    // Ends the panel at once, as closing its window does; see link_lifecycle.cpp.
    void stop();

    // ---- link: sending and receiving
    // Hands the command string to the active link unchanged; a failed hand-
    // over is reported in a box. Returns whether the link took it.
    bool SendCommand(const QString &command);
    void ReceiveText(const QString &chunk);
    // ---- cat: the reply interpreter
    void HandleReply(const QString &reply);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // ---- app: start-up (rmt_q9.cpp)
    void Form_Load();
    void applyPanelLook();
    // ---- app: settings file (settings.cpp)
    void LoadSettings();
    void SaveSettings();
    void applySettingsToMenu();
    // ---- app: S-meter poll and UTC clock (periodic.cpp)
    void wirePeriodicTasks();
    void Timer1_Timer();
    void SM_en_Click();
    void Timer2_Timer();
    void set_UTC_Click();
    void stopSmeterPoll();
    // ---- app: debug console (debug_console.cpp)
    void wireDebugConsole();
    void debug_on_Click();
    void send_cmd_Click();
    void showDebugConsole(bool visible);
    void appendDebugText(const QString &chunk);
    void replaceDebugText(const QString &text);

    // ---- link: command sender and framing (command_sender.cpp, reply_framing.cpp)
    // The link commands go to and replies come from, and what a failed send
    // on it tells the operator.
    struct ActiveLink
    {
        RadioLink &control;
        const QString &sendFailure;
    };
    ActiveLink activeLink();
    bool isActive(const RadioLink &link);
    void wireLinks();
    void tcpClient_SendComplete();
    void Comm1_OnComm(const QByteArray &received);
    void tcpClient_DataArrival(const QByteArray &data);
    void receiveFrom(const RadioLink &link, const QByteArray &bytes);
    void showSendFailure(const QString &text);
    // ---- link: serial connection (serial_connection.cpp)
    void wireSerialConnection();
    void OpenSerialLink();
    void WaitForReply();
    bool probeForRadio();
    void Comm1_Lost();
    void Setcomm_Click(int portNumber);
    void Auto_comm_con_Click();
    void autoConnectStep();
    void checkPortItem(int portNumber);
    // ---- link: server connection (server_connection.cpp)
    void wireServerConnection();
    void Set_Host_Addr_Click();
    bool startServerLink(const ServerAddress &server);
    void tcpClient_Connect();
    void tcpClient_Error(const QString &description);
    // ---- link: the panel's key and the relays' keys (secure_link.cpp)
    void wireSecureLink();
    void panel_key_Click();
    const Identity *panelKey();
    QSslConfiguration tlsFor(const ServerAddress &server);
    bool relayKeyRefused(const ServerAddress &server);
    bool trustFirstKey(RelayPins &pins, const QString &hostPort, const QString &key);
    void warnOfChangedKey(const QString &hostPort, const QString &pinned, const QString &presented);
    // ---- link: the local CAT port for other programs (local_cat.cpp)
    void wireLocalCatPort();
    void cat_port_Click();
    bool openCatPort(const QString &port);
    // ---- link: start-up query, release, shut-down (link_lifecycle.cpp)
    void wireShutDown();
    void QueryRadioState();
    void ReleaseLink();
    void ResetLinkSelection();
    void linkLost();
    void Form_Unload();
    void exit_cmd_Click();
    // ---- app: the receiver's audio through the relay (audio.cpp)
    void wireAudio();
    void audio_on_Click();
    void noteAudioOffer(const QString &greeting);
    void followAudioOffer();
    // ---- app: push-to-talk (transmit.cpp)
    void wireTransmit();
    QKeySequence pushToTalkKey() const;
    void transmit_cmd_Click();
    void ptt_key_Click();
    void showTransmitting(bool transmitting);

    // ---- cat: reply dispatcher (handle_reply.cpp), one branch per code
    void replyServerGreeting(const ReplyFields &reply);
    void replyAntenna(const ReplyFields &reply);
    void replyVfoA(const ReplyFields &reply);
    void replyVfoB(const ReplyFields &reply);
    void replyReceiveVfo(const ReplyFields &reply);
    void replyTransmitVfo(const ReplyFields &reply);
    void replyFilter(const ReplyFields &reply);
    void replyAgc(const ReplyFields &reply);
    void replyRadioPresent(const ReplyFields &reply);
    void replyKeyerSpeed(const ReplyFields &reply);
    void replyMode(const ReplyFields &reply);
    void replyNoiseBlanker(const ReplyFields &reply);
    void replySMeter(const ReplyFields &reply);
    void replySquelch(const ReplyFields &reply);
    void replyPreamp(const ReplyFields &reply);
    void replyPower(const ReplyFields &reply);
    void replyAttenuator(const ReplyFields &reply);
    void showReceiveVfo(qint16 vfo);
    void selectModeButton(QChar digit);
    // ---- cat: status record and RIT/XIT display (status_record.cpp, rit_display.cpp)
    void decodeStatusRecord(const ReplyFields &record);
    void ShowRitOffset(double offset);
    void ShowRitXitState();

    // ---- panel: switch and mode buttons (switch_buttons.cpp)
    void wireSwitchButtons();
    void att_cmd_Click();
    void AIP_cmd_Click();
    void spot_Click();
    void Tune_Click();
    void BandUp_Click();
    void BandDn_Click();
    void sendOnClick(std::initializer_list<std::pair<QAbstractButton *, QString>> buttons);
    void flipSwitch(bool &on, QWidget *button, const QString &onCommand, const QString &offCommand);
    // ---- panel: level sliders (level_sliders.cpp)
    void wireLevelSliders();
    void PowerSlider_Scroll();
    void CWSpeedSlider_Scroll();
    void SquelchSlider_Scroll();
    // ---- panel: CW text sender (cw_sender.cpp)
    void wireCwSender();
    void CW_SendBuff_Click();
    void CW_Stop_Click();
    void CW_ClearBox_Click();
    void CWsend_Change();

    // ---- tuning: fine-tune slider (fine_tune.cpp)
    void wireFineTune();
    void fine_tune_Scroll();
    void fine_tune_Change();
    void fine_tune_Wheel(const QWheelEvent *event);
    void incr_edbox_Change();
    void clr_slide_Click();
    void setFineTuneScale();
    // ---- tuning: frequency entry and VFO commands (vfo_entry.cpp)
    void wireVfoEntry();
    void vfo_edbox_GotFocus(QObject *box);
    void vfoa_edbox_LostFocus();
    void vfob_edbox_LostFocus();
    void a2b_Click();
    void b2a_Click();
    void QueryVfoFrequencies();
    void rx_vfoa_Click();
    void rx_vfob_Click();
    void tx_vfoa_Click();
    void tx_vfob_Click();
    void sendFrequency(const QString &code, const QString &boxText);
    void selectReceiveVfo(qint16 vfo);
    void selectTransmitVfo(qint16 vfo);
    // ---- tuning: step tuning (step_tuning.cpp)
    void wireStepTuning();
    void stepTune(const QString &stepCommand);
    // ---- tuning: RIT/XIT controls (rit_controls.cpp)
    void wireRitControls();
    void RitStepUp(int count);
    void RitStepDown(int count);
    void rit_clr_Click();
    void rit_cmd_Click();
    void xit_cmd_Click();
    void sendRitSteps(const QString &step, int count);

    std::unique_ptr<Ui::Rmt_Q9> ui;
    Dialogs &m_dialogs;
    Q9_globals g;
    SerialControl Comm1;
    SocketControl tcpClient;
    QTimer Timer1;
    QTimer Timer2;
    Framer RxBuffer{MaxReply};
    std::function<QTime()> m_localTime;
    // Wheel movement not yet making up a whole notch.
    int m_wheelTravel = 0;
    bool m_sendFailureShown = false;
    // A link may find its device gone while it sends.
    bool m_sending = false;
    bool m_shutDown = false;
    bool m_stopping = false;
    RemoteAudio m_audio;
    // The relay's audio port from its greeting, 0 when it offers none.
    quint16 m_audioPort = 0;
    // The pass for its audio over UDP, when it gives one.
    std::optional<AudioPass> m_audioPass;
    // Made or read on first use.
    std::optional<Identity> m_panelKey;
    LocalCatPort m_catPort;
    PushToTalk m_pushToTalk;
    HeldKey *m_heldKey = nullptr;
    QString m_receiveTitle;
};
