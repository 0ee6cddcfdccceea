#include "radio_queue.h"

#include "cat_commands.h"
#include "radio_line.h"
#include "session.h"

#include <algorithm>

namespace {

constexpr int RadioLevel = 2;
constexpr int HighestLevel = 2;

QByteArray levelCommand(int level)
{
    return "AI" + QByteArray::number(level) + ';';
}

// The level an "AIn;" names, or nothing.
std::optional<int> levelOf(QByteArrayView text)
{
    const QByteArrayView argument = CatCommand::argument(text);
    if (argument.size() != 1 || argument.front() < '0' || argument.front() > '0' + HighestLevel)
        return std::nullopt;
    return argument.front() - '0';
}

} // namespace

RadioQueue::RadioQueue(RadioLine &radio, QObject *parent)
    : QObject(parent)
    , m_radio(radio)
{
    m_answerTimer.setSingleShot(true);
    m_answerTimer.setInterval(AnswerTimeout);
    connect(&m_answerTimer, &QTimer::timeout, this, &RadioQueue::giveUp);
    connect(&radio, &RadioLine::received, this, &RadioQueue::hear);
    connect(&radio, &RadioLine::drained, this, &RadioQueue::pump);
    connect(&radio, &RadioLine::lost, this, &RadioQueue::forgetRadio);
    connect(&radio, &RadioLine::opened, this, &RadioQueue::takeRadio);
}

void RadioQueue::takeRadio()
{
    m_own += {QByteArrayLiteral("AI;"), levelCommand(RadioLevel)};
    pump();
}

// A radio never heard of is left with its reports off, as a panel leaves it.
void RadioQueue::giveRadioBack()
{
    m_radio.send(levelCommand(std::max(m_foundLevel, 0)));
    m_radio.flush();
}

void RadioQueue::add(Session *session)
{
    m_sessions.append(session);
    connect(session, &Session::queued, this, &RadioQueue::pump);
}

void RadioQueue::remove(Session *session)
{
    m_sessions.removeAll(session);
}

// Replies that arrive while a command goes out are routed when it has gone,
// never as answers to it, so a command is never sent from inside another.
void RadioQueue::pump()
{
    if (m_pumping)
        return;
    m_pumping = true;
    while (!m_waiting && !m_radio.isBusy() && sendNext()) { }
    m_pumping = false;
}

bool RadioQueue::sendNext()
{
    if (!m_own.isEmpty()) {
        send(nullptr, m_own.takeFirst());
        return true;
    }
    Session *session = nextInTurn();
    if (!session)
        return false;
    const QByteArray command = session->queue.takeFirst();
    if (CatCommand::code(command) == "AI")
        setLevel(session, command);
    else
        send(session, command);
    session->readOn();
    return true;
}

// Clients in turn, a command each, so that a panel's poll does not starve
// a CAT program or the other way round.
Session *RadioQueue::nextInTurn()
{
    for (qsizetype i = 0; i < m_sessions.size(); ++i) {
        const qsizetype at = (m_turn + i) % m_sessions.size();
        Session *session = m_sessions.at(at);
        if (session && !session->queue.isEmpty()) {
            m_turn = at + 1;
            return session;
        }
    }
    return nullptr;
}

// A rise from level 0 goes back in front of the client's queue until the
// relay's own query, sent first, has been answered or given up.
void RadioQueue::setLevel(Session *session, const QByteArray &command)
{
    if (CatCommand::argument(command).isEmpty())
        return session->deliver(levelCommand(session->level));
    const auto level = levelOf(command);
    if (!level)
        return session->deliver(CatCommand::Rejected.toByteArray());
    const bool rises = *level > 0 && session->level == 0;
    if (rises && (session->riseFence == 0 || m_fenced < session->riseFence)) {
        session->queue.prepend(command);
        if (session->riseFence == 0) {
            m_own.append(QByteArrayLiteral("AI;"));
            session->riseFence = m_sent + m_own.size();
        }
        return;
    }
    session->riseFence = 0;
    session->level = *level;
}

void RadioQueue::send(Session *session, const QByteArray &command)
{
    ++m_sent;
    m_lastSender = session;
    if (CatCommand::isQuery(command)) {
        m_waiting = Query{session, CatCommand::code(command), m_sent, session == nullptr};
        m_answerTimer.start();
    }
    m_radio.send(command);
}

void RadioQueue::hear(const QByteArray &bytes)
{
    m_heard += bytes;
    for (qsizetype end = m_heard.indexOf(';'); end >= 0; end = m_heard.indexOf(';')) {
        const QByteArray reply = m_heard.left(end + 1);
        m_heard.remove(0, end + 1);
        route(reply);
    }
    if (m_heard.size() > MaxReply)
        m_heard.remove(0, m_heard.size() - MaxReply);
    pump();
}

void RadioQueue::route(const QByteArray &reply)
{
    const bool rejected = reply.trimmed() == CatCommand::Rejected;
    if (m_waiting && (rejected || CatCommand::code(reply) == m_waiting->code)) {
        answered(reply);
        return;
    }
    if (rejected) {
        if (m_lastSender)
            m_lastSender->deliver(reply);
        return;
    }
    // A client cut off on the way leaves the list while it is walked.
    const QList<QPointer<Session>> sessions = m_sessions;
    for (const QPointer<Session> &session : sessions) {
        if (session && session->level > 0)
            session->deliver(reply);
    }
}

// The answer also shows that the radio has taken every command before it,
// so the reports those caused have come.
void RadioQueue::answered(const QByteArray &reply)
{
    const Query query = *m_waiting;
    m_waiting.reset();
    m_answerTimer.stop();
    m_fenced = std::max(m_fenced, query.sequence);
    if (query.own)
        ownAnswer(reply);
    else if (query.asker)
        query.asker->deliver(reply);
}

// The relay's own "AI;": the level found when the radio is first taken; a
// radio that has since forgotten level 2 (switched off and on) is set again.
void RadioQueue::ownAnswer(const QByteArray &reply)
{
    const auto level = levelOf(reply);
    if (!level)
        return;
    if (m_foundLevel < 0)
        m_foundLevel = *level;
    else if (*level != RadioLevel)
        m_own.append(levelCommand(RadioLevel));
}

// A radio that never answers has nothing more to report for the fence.
void RadioQueue::giveUp()
{
    if (m_waiting && m_waiting->own)
        m_fenced = std::max(m_fenced, m_waiting->sequence);
    m_waiting.reset();
    pump();
}

void RadioQueue::forgetRadio()
{
    m_waiting.reset();
    m_answerTimer.stop();
    m_heard.clear();
    m_own.clear();
}
