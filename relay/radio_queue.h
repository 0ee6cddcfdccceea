#pragma once

#include <QByteArrayList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <optional>

class RadioLine;
class Session;

// The one way to the radio for every client. Whole commands go in turn, a
// command at a time from each client that has one, and never more while a
// query is outstanding: its answer, the first reply with the query's code
// or "?;", goes to the client that asked, and to nobody else. A query the
// radio never answers is given up after AnswerTimeout. What the radio says
// unasked goes to every client whose auto-information level asks for it.
//
// A client's "AI0;", "AI1;", "AI2;" set its own level and go no further;
// its "AI;" is answered with that level. The radio itself is kept at
// level 2 while the relay serves, and put back as found when it stops. A
// client's rise from level 0 waits for a query of the relay's own, whose
// answer shows that the radio has taken everything sent before it: so a
// client does not hear the reports of the sets it sent at level 0, as on a
// radio whose reports are off (the panel's fine tuning, "AI0;", set,
// "AI2;", does not echo back to it, while every other client hears the
// change), and a radio switched off and on meanwhile is set to level 2
// again before the client counts on its reports.
class RadioQueue : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds AnswerTimeout{1000};
    // Line noise that never ends a reply keeps no more than this.
    static constexpr qsizetype MaxReply = 4096;

    explicit RadioQueue(RadioLine &radio, QObject *parent = nullptr);

    // Asks the radio's own level and sets level 2; again whenever the
    // radio's line opens anew.
    void takeRadio();
    // Puts the radio's level back as it was found.
    void giveRadioBack();

    void add(Session *session);
    void remove(Session *session);
    // Sends what can go now.
    void pump();

private:
    struct Query
    {
        QPointer<Session> asker; // none for the relay's own
        QByteArray code;
        quint64 sequence;
        bool own;
    };

    bool sendNext();
    Session *nextInTurn();
    void setLevel(Session *session, const QByteArray &command);
    void send(Session *session, const QByteArray &command);
    void hear(const QByteArray &bytes);
    void route(const QByteArray &reply);
    void answered(const QByteArray &reply);
    void ownAnswer(const QByteArray &reply);
    void giveUp();
    void forgetRadio();

    RadioLine &m_radio;
    QList<QPointer<Session>> m_sessions;
    qsizetype m_turn = 0;
    QByteArrayList m_own;
    std::optional<Query> m_waiting;
    QTimer m_answerTimer;
    QByteArray m_heard;
    QPointer<Session> m_lastSender;
    quint64 m_sent = 0;
    quint64 m_fenced = 0;
    int m_foundLevel = -1;
    bool m_pumping = false;
};
