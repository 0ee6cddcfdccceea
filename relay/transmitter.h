#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>

class RadioLine;
class RadioQueue;
class Session;

// The one transmitter and who holds it. A client keys with "TX;" (or the
// family's "TX0;" to "TX2;") and lets go with "RX;"; while one holds it,
// another's keying (push-to-talk, a tune, CW text) is refused, and its
// "RX;" (a program may send one to be sure) goes no further. While nobody
// holds it, anyone's "RX;" reaches the radio.
//
// The relay never leaves it keyed for a client that is not there: a panel
// renews its hold by sending "TX;" again, many times a second, and a hold
// not renewed within Lease is ended; a CAT program, which does not renew,
// holds it until it lets go or leaves. Any hold ends at the transmit-time
// limit, and when the relay stops. A holder's "RX;" unkeys once the audio
// it sent has played into the radio, as its operator spoke it to the end.
// Once the relay has unkeyed a client on its own, that client's "TX;" keys
// nothing until it has sent "RX;": a renewal the network held back must not
// key the radio again. A panel is told why its hold ended ("!!Q9 relay
// transmit ended: …;"); a CAT program hears "?;" for its "TX;".
//
// The radio is keyed by its own command ("TX;", "RX;"), by a control line
// of its port (RTS or DTR, the usual interface cable), or not at all, when
// the transmit audio keys it (VOX).
class Transmitter : public QObject
{
    Q_OBJECT

public:
    enum class Method { Cat, Rts, Dtr, Vox };
    static constexpr std::chrono::milliseconds Lease{500};
    static constexpr std::chrono::seconds DefaultLimit{180};

    Transmitter(RadioQueue &queue, RadioLine &radio, QObject *parent = nullptr);

    static std::optional<Method> methodNamed(QStringView name);
    static QString nameOf(Method method);
    void setMethod(Method method);
    void setLimit(std::chrono::seconds limit);
    std::chrono::seconds limit() const { return m_limit; }

    // Whether the command is the transmitter's business: it keys or unkeys.
    static bool concerns(QByteArrayView command);
    // Why the session's command is refused, or nothing when it is not:
    // another holds the transmitter, or the relay unkeyed this one and it
    // has not let go since.
    std::optional<QString> refusal(const Session &session, QByteArrayView command) const;
    // The session's command has come, to be taken in its turn: a holder's
    // renewal counts now, as the commands before it may wait on a slow
    // radio for longer than the lease.
    void arrived(const Session &session, QByteArrayView command);
    // Takes the command in its turn; whether it goes on to the radio as the
    // session's own.
    bool take(Session &session, QByteArrayView command);
    // The session has gone.
    void forget(const Session &session);
    // Who holds the transmitter now, if anyone.
    const Session *holder() const { return m_holder; }
    // The holder's audio keeps coming, to be played within `playout`: its
    // lease is renewed as by "TX;", which a lossy network may hold back
    // longer than the lease, and its "RX;" waits until the audio has played.
    void heardAudio(std::chrono::milliseconds playout);
    // Unkeys straight to the radio's line, for a relay that is stopping.
    void release();

signals:
    void message(const QString &text);
    // The transmitter is unkeyed, whoever let go.
    void released();

private:
    // Let go by its holder, at once or once its audio has played; ended by
    // the relay, its holder gone, or the relay stopping.
    enum class Ending { LetGo, PlayedOut, ByRelay, Gone, Stopping };

    static bool isRelease(QByteArrayView command);
    void hold(Session &session, QByteArrayView command);
    void unkey(const QString &why, Ending ending);
    void keyLine(bool on);

    RadioQueue &m_queue;
    RadioLine &m_radio;
    Method m_method = Method::Cat;
    std::chrono::seconds m_limit = DefaultLimit;
    Session *m_holder = nullptr;
    QString m_holderName;
    QElapsedTimer m_keyedFor;
    QTimer m_lease;
    QTimer m_limitTimer;
    // From the holder's "RX;" until its audio has played.
    QTimer m_playingOut;
    QDeadlineTimer m_audioPlayed;
    // Clients the relay unkeyed, until they let go.
    QSet<const Session *> m_cutOff;
};
