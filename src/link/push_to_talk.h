#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

// The operator's push-to-talk, as the radio's commands: "TX;" when it is
// pressed, "RX;" when it is let go. A relay that holds the transmitter
// under a lease (its greeting tells the transmit limit) is sent "TX;" again
// every RenewInterval while the operator talks, so that the radio is
// unkeyed soon after the panel stops, however it stops. The relay's word
// that it refused or ended the transmission ends it here too.
class PushToTalk : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds RenewInterval{100};

    explicit PushToTalk(QObject *parent = nullptr);

    // Whether a relay that greets so leases the transmitter: its greeting
    // tells the transmit limit ("tx=180").
    static bool leases(const QString &greeting);
    // Whether the relay's text is its word that it refused or ended a
    // transmission ("!!Q9 relay transmit …;").
    static bool isTransmitNotice(const QString &text);

    void noteGreeting(const QString &greeting);
    void press();
    void release();
    // The link went away: nothing more can be sent, and nothing is keyed.
    void dropLink();
    // A relay's transmit notice; whether it was one.
    bool takeNotice(const QString &notice);

signals:
    void send(const QString &command);
    void pressedChanged(bool pressed);
    // The relay refused or ended the transmission, in its words.
    void stoppedByRelay(const QString &why);

private:
    void setPressed(bool pressed);

    QTimer m_renewal;
    bool m_leased = false;
    bool m_pressed = false;
};
