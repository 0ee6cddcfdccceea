#pragma once

#include "framer.h"

#include <QByteArrayList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

class RadioLine;
class Session;
class Transmitter;

// The one way to the radio for every client, and the one place that knows
// which reply is whose. Its rule: every reply goes to the client whose
// command caused it and is the radio's answer to that command; a report the
// radio sends because of a set is a report, to the clients whose level asks
// for it, never a later query's answer.
//
// Whole commands go in turn, a command at a time from each client that has
// one. A query (CatCommand::kind()) is sent alone: nothing follows it until
// its answer, the first reply with its code or "?;", has come. Sets from one
// client may follow each other; the radio says nothing to a set it takes,
// "?;" to one it cannot, and with its reports on it tells what changed. So
// before a query, before another client's set and before the relay answers
// a command itself, the relay fences the sets: it asks "AI;", whose answer
// shows that the radio has dealt with everything sent before it. Until then
// a "?;" is the setter's, and anything else a report.
//
// A client's "AIn;" sets its own level and goes no further (it takes effect
// in order, once what it sent before is fenced); its "AI;" is answered with
// that level, and a command holding control bytes, one the client's role
// does not allow, or one that would key a transmitter another client holds
// (Transmitter) is refused with "?;". The radio itself is kept at level 2 while the relay serves: every
// answer to "AI;" checks it, and a radio found below it (switched on late, or off and on) is set again. When
// the relay stops it gives the level back as it was found at the first look; a level record keeps that for
// the next relay if this one is killed.
//
// An answer is waited for from when its query has left the line; one that
// has not come after the answer timeout is given up, and should it come
// later it goes to nobody.
class RadioQueue : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds AnswerTimeout{1000};
    // How often a radio not known to be reporting is asked its level.
    static constexpr std::chrono::milliseconds CheckInterval{2000};
    // A client with this many commands waiting is read no further.
    static constexpr qsizetype MaxQueued = 32;
    // Line noise that never ends a reply keeps no more than this.
    static constexpr qsizetype MaxReply = 4096;

    explicit RadioQueue(RadioLine &radio, QObject *parent = nullptr);
    ~RadioQueue() override;

    void setAnswerTimeout(std::chrono::milliseconds timeout);
    // A file that keeps the radio's level as first found; one left by a relay
    // that was killed is taken as what was found.
    void setLevelRecord(const QString &path);

    // Asks the radio's level and sets level 2; again whenever the radio's
    // line opens anew.
    void takeRadio();
    // Puts the radio's level back as it was found.
    void giveRadioBack();

    // Keying commands go through it, which may refuse them or take them
    // itself.
    void setTransmitter(Transmitter *transmitter);
    // The relay's own set, sent ahead of the clients' commands once the sets
    // before it are fenced.
    void command(const QByteArray &command);

    void join(Session *session);
    bool hasRoom(const Session *session) const;
    // Whole commands, in the order the client sent them.
    void take(Session *session, const QByteArrayList &commands);
    // The client has gone gently: what it queued still goes to the radio, and
    // it hears the answers as long as it is there; then Session::done().
    void leave(Session *session);
    // The client is cut off: what it queued is dropped.
    void drop(Session *session);

signals:
    void message(const QString &text);

private:
    struct Client;
    // Clients are told apart by a number never used again: the relay itself
    // is 0.
    using ClientId = quint64;
    static constexpr ClientId Relay = 0;
    struct Awaited
    {
        ClientId asker;
        QByteArray code;
    };
    // The sets sent since the radio last showed it had dealt with everything.
    struct Unfenced
    {
        ClientId setter; // the relay's own, or nobody's for a query given up
        // Codes whose late answers go to nobody.
        QByteArrayList late;
    };

    bool isAnsweredHere(const Client &client, const QByteArray &command) const;
    Client *find(const Session *session) const;
    Client *find(ClientId id) const;
    void pump();
    bool sendNext();
    Client *nextInTurn();
    bool needsFence(const Client &client, const QByteArray &command) const;
    void send(ClientId sender, const QByteArray &command);
    void answerLocally(Client &client, const QByteArray &command);
    void hear(const QByteArray &bytes);
    void route(const QByteArray &reply);
    void answered(const QByteArray &reply);
    void report(const QByteArray &reply);
    void deliver(ClientId id, const QByteArray &text);
    void checkLevel(const QByteArray &reply);
    void recordFoundLevel(int level);
    void giveUp();
    void startAnswerTimer();
    void finishLeavers();
    bool isDone(const Client &client) const;
    void forget(const Session *session);
    void forgetRadio();
    void keepAskingLevel(bool asking);

    RadioLine &m_radio;
    Transmitter *m_transmitter = nullptr;
    std::vector<std::unique_ptr<Client>> m_clients;
    size_t m_turn = 0;
    ClientId m_lastId = Relay;
    QByteArrayList m_own;
    std::optional<Awaited> m_awaited;
    std::optional<Unfenced> m_unfenced;
    Framer m_replies{MaxReply};
    QTimer m_answerTimer;
    QTimer m_checkTimer;
    std::chrono::milliseconds m_answerTimeout = AnswerTimeout;
    QString m_levelRecord;
    int m_foundLevel = -1;
    bool m_answering = true;
    // The radio's level has been checked since anything was last sent.
    bool m_checked = false;
    // Level 2 has just been set again, and is being asked back.
    bool m_verifying = false;
    bool m_pumping = false;
};
