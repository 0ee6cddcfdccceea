#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>

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

    // The relay's greeting: whether it leases the transmitter, and for how
    // long at most it lets one transmit.
    void noteGreeting(const QString &greeting);
    std::optional<std::chrono::seconds> transmitLimit() const { return m_limit; }

    void press();
    void release();
    bool isPressed() const { return m_pressed; }
    // The link went away: nothing more can be sent, and nothing is keyed.
    void dropLink();
    // A relay's notice ("!!Q9 relay transmit …;"); whether it was one.
    bool takeNotice(const QString &notice);

signals:
    void send(const QString &command);
    void pressedChanged(bool pressed);
    // The relay refused or ended the transmission, in its words.
    void stoppedByRelay(const QString &why);

private:
    void setPressed(bool pressed);

    std::optional<std::chrono::seconds> m_limit;
    QTimer m_renewal;
    bool m_pressed = false;
};
