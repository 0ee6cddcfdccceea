#include "radio_queue.h"

#include "cat_commands.h"
#include "radio_line.h"
#include "session.h"
#include "transmitter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <utility>

namespace {

constexpr int RadioLevel = 2;
constexpr QByteArrayView Fence = "AI;";

QByteArray levelCommand(int level)
{
    return "AI" + QByteArray::number(level) + ';';
}

// The level an "AIn;" names, or nothing.
std::optional<int> levelOf(QByteArrayView text)
{
    const QByteArrayView argument = CatCommand::argument(text);
    if (argument.size() != 1 || argument.front() < '0' || argument.front() > '0' + RadioLevel)
        return std::nullopt;
    return argument.front() - '0';
}

} // namespace

struct RadioQueue::Client
{
    ClientId id;
    Session *session;
    QByteArrayList commands;
    // The auto-information level it set: 0 hears no reports.
    int level = 0;
    bool leaving = false;
};

// Commands the relay answers itself: a client's own level, and what the
// radio must not be sent, by anyone or by this client.
bool RadioQueue::isAnsweredHere(const Client &client, const QByteArray &command) const
{
    return !CatCommand::isPrintable(command) || CatCommand::code(command) == "AI"
        || !client.session->permits(command)
        || (m_transmitter && m_transmitter->refusal(*client.session, command));
}

RadioQueue::RadioQueue(RadioLine &radio, QObject *parent)
    : QObject(parent)
    , m_radio(radio)
{
    m_answerTimer.setSingleShot(true);
    connect(&m_answerTimer, &QTimer::timeout, this, &RadioQueue::giveUp);
    m_checkTimer.setInterval(CheckInterval);
    connect(&m_checkTimer, &QTimer::timeout, this, [this] {
        if (!m_awaited && !m_own.contains(Fence))
            m_own.append(Fence.toByteArray());
        pump();
    });
    connect(&radio, &RadioLine::received, this, &RadioQueue::hear);
    connect(&radio, &RadioLine::drained, this, &RadioQueue::pump);
    connect(&radio, &RadioLine::lost, this, &RadioQueue::forgetRadio);
    connect(&radio, &RadioLine::opened, this, &RadioQueue::takeRadio);
}

RadioQueue::~RadioQueue() = default;

void RadioQueue::setAnswerTimeout(std::chrono::milliseconds timeout)
{
    m_answerTimeout = timeout;
}

void RadioQueue::setLevelRecord(const QString &path)
{
    m_levelRecord = path;
    QFile record(path);
    if (record.open(QIODevice::ReadOnly))
        m_foundLevel = levelOf(record.readAll()).value_or(-1);
}

void RadioQueue::takeRadio()
{
    keepAskingLevel(true);
    m_own.append(Fence.toByteArray());
    pump();
}

// A radio never heard of is left with its reports off, as a panel leaves it.
void RadioQueue::giveRadioBack()
{
    m_radio.send(levelCommand(std::max(m_foundLevel, 0)));
    m_radio.flush();
    if (!m_levelRecord.isEmpty())
        QFile::remove(m_levelRecord);
}

void RadioQueue::setTransmitter(Transmitter *transmitter)
{
    m_transmitter = transmitter;
}

void RadioQueue::command(const QByteArray &command)
{
    m_own.append(command);
    pump();
}

void RadioQueue::join(Session *session)
{
    m_clients.push_back(std::make_unique<Client>(Client{++m_lastId, session, {}}));
}

bool RadioQueue::hasRoom(const Session *session) const
{
    const Client *client = find(session);
    return client && client->commands.size() < MaxQueued;
}

void RadioQueue::take(Session *session, const QByteArrayList &commands)
{
    if (Client *client = find(session)) {
        if (m_transmitter) {
            for (const QByteArray &command : commands)
                m_transmitter->arrived(*session, command);
        }
        client->commands += commands;
        pump();
    }
}

void RadioQueue::leave(Session *session)
{
    if (Client *client = find(session)) {
        client->leaving = true;
        finishLeavers();
        pump();
    }
}

void RadioQueue::drop(Session *session)
{
    const Client *client = find(session);
    if (!client)
        return;
    if (const qsizetype dropped = client->commands.size())
        emit message(
            QStringLiteral("%1: %2 commands it sent were dropped").arg(session->name()).arg(dropped));
    forget(session);
    pump();
}

RadioQueue::Client *RadioQueue::find(const Session *session) const
{
    const auto found = std::find_if(m_clients.begin(), m_clients.end(),
                                    [session](const auto &client) { return client->session == session; });
    return found == m_clients.end() ? nullptr : found->get();
}

RadioQueue::Client *RadioQueue::find(ClientId id) const
{
    const auto found = std::find_if(m_clients.begin(), m_clients.end(),
                                    [id](const auto &client) { return client->id == id; });
    return found == m_clients.end() ? nullptr : found->get();
}

// Replies that arrive while a command goes out are routed as soon as they
// come; a command is never sent from inside another.
void RadioQueue::pump()
{
    if (m_pumping)
        return;
    m_pumping = true;
    while (!m_awaited && !m_radio.isBusy() && sendNext()) { }
    m_pumping = false;
}

bool RadioQueue::sendNext()
{
    if (!m_own.isEmpty()) {
        // The relay's own set waits for the sets before it to be fenced.
        const bool fenceFirst = m_unfenced && !CatCommand::isQuery(m_own.first());
        send(Relay, fenceFirst ? Fence.toByteArray() : m_own.takeFirst());
        return true;
    }
    Client *client = nextInTurn();
    if (!client) {
        // A client that has gone still hears whether its last sets were taken.
        const Client *setter = m_unfenced ? find(m_unfenced->setter) : nullptr;
        if (!setter || !setter->leaving)
            return false;
        send(Relay, Fence.toByteArray());
        return true;
    }
    if (needsFence(*client, client->commands.first())) {
        --m_turn; // its command goes once the fence is answered
        send(Relay, Fence.toByteArray());
        return true;
    }
    const ClientId id = client->id;
    const QByteArray command = client->commands.takeFirst();
    if (isAnsweredHere(*client, command))
        answerLocally(*client, command);
    else if (!m_transmitter || !Transmitter::concerns(command)
             || m_transmitter->take(*client->session, command))
        send(id, command);
    // Answering may have cut it off.
    if ((client = find(id)))
        client->session->readOn();
    finishLeavers();
    return true;
}

// Clients in turn, a command each, so that a panel's poll does not starve
// a CAT program or the other way round.
RadioQueue::Client *RadioQueue::nextInTurn()
{
    for (size_t i = 0; i < m_clients.size(); ++i) {
        const size_t at = (m_turn + i) % m_clients.size();
        Client *client = m_clients.at(at).get();
        if (!client->commands.isEmpty()) {
            m_turn = at + 1;
            return client;
        }
    }
    return nullptr;
}

// Only more sets of the same client may follow unfenced sets. A client
// that starts to count on the radio's reports has the radio's level checked
// first: one switched off and on meanwhile is set again.
bool RadioQueue::needsFence(const Client &client, const QByteArray &command) const
{
    if (m_unfenced)
        return m_unfenced->setter != client.id || isAnsweredHere(client, command)
            || CatCommand::isQuery(command);
    const auto level = CatCommand::code(command) == "AI" ? levelOf(command) : std::nullopt;
    return level > 0 && client.level == 0 && !m_checked;
}

void RadioQueue::send(ClientId sender, const QByteArray &command)
{
    m_checked = m_checked && sender == Relay;
    if (CatCommand::isQuery(command)) {
        m_awaited = Awaited{sender, CatCommand::code(command)};
        startAnswerTimer();
    } else if (!m_unfenced) {
        m_unfenced = Unfenced{sender, {}};
    }
    m_radio.send(command);
}

void RadioQueue::answerLocally(Client &client, const QByteArray &command)
{
    if (!CatCommand::isPrintable(command)) {
        emit message(
            QStringLiteral("%1 sent a command holding control bytes; refused").arg(client.session->name()));
        return client.session->deliver(CatCommand::Rejected.toByteArray());
    }
    if (!client.session->permits(command)) {
        emit message(
            QStringLiteral("%1, whose role is %2, may not send \"%3\"; refused")
                .arg(client.session->name(), client.session->roleName(), QString::fromLatin1(command)));
        return client.session->deliver(CatCommand::Rejected.toByteArray());
    }
    if (const auto refusal
        = m_transmitter ? m_transmitter->refusal(*client.session, command) : std::nullopt) {
        emit message(QStringLiteral("%1 may not send \"%2\": %3; refused")
                         .arg(client.session->name(), QString::fromLatin1(command), *refusal));
        client.session->notice(QStringLiteral("transmit refused: %1").arg(*refusal));
        return client.session->deliver(CatCommand::Rejected.toByteArray());
    }
    if (CatCommand::argument(command).isEmpty())
        return client.session->deliver(levelCommand(client.level));
    const auto level = levelOf(command);
    if (!level)
        return client.session->deliver(CatCommand::Rejected.toByteArray());
    client.level = *level;
}

// Nothing is sent while a chunk's replies are routed, even when a client cut
// off on the way lets the next command go: the replies still to route came
// before that command, and would pass for its answer.
void RadioQueue::hear(const QByteArray &bytes)
{
    const bool pumping = std::exchange(m_pumping, true);
    for (const QByteArray &reply : m_replies.feed(bytes))
        route(reply);
    m_pumping = pumping;
    pump();
}

void RadioQueue::route(const QByteArray &reply)
{
    const QByteArray code = CatCommand::code(reply);
    if (CatCommand::isRejection(reply)) {
        if (m_unfenced)
            deliver(m_unfenced->setter, reply);
        else if (m_awaited)
            answered(reply);
        return;
    }
    if (m_unfenced && m_unfenced->late.removeOne(code))
        return;
    if (m_awaited && code == m_awaited->code)
        return answered(reply);
    // The radio's own level is the relay's business.
    if (code != "AI")
        report(reply);
}

// An answer to the relay's own "AI;" also shows that the radio has dealt
// with everything sent before it.
void RadioQueue::answered(const QByteArray &reply)
{
    const Awaited awaited = *m_awaited;
    m_awaited.reset();
    m_answerTimer.stop();
    if (!m_answering) {
        m_answering = true;
        emit message(QStringLiteral("the radio answers again"));
    }
    if (awaited.asker == Relay) {
        m_unfenced.reset();
        m_checked = true;
        checkLevel(reply);
    } else {
        deliver(awaited.asker, reply);
    }
    finishLeavers();
}

void RadioQueue::report(const QByteArray &reply)
{
    QList<ClientId> hearers;
    for (const auto &client : m_clients) {
        if (client->level > 0 && !client->leaving)
            hearers.append(client->id);
    }
    // A client cut off on the way leaves the list while it is walked.
    for (const ClientId id : hearers)
        deliver(id, reply);
}

void RadioQueue::deliver(ClientId id, const QByteArray &text)
{
    if (const Client *client = find(id))
        client->session->deliver(text);
}

// The level found at the first look is the one given back. A radio below
// level 2 is set again, and asked at once whether it took it; one that did
// not is asked again now and then.
void RadioQueue::checkLevel(const QByteArray &reply)
{
    const auto level = levelOf(reply);
    if (!level)
        return;
    if (m_foundLevel < 0)
        recordFoundLevel(*level);
    const bool reporting = *level == RadioLevel;
    if (!reporting) {
        m_own.append(levelCommand(RadioLevel));
        if (!m_verifying)
            m_own.append(Fence.toByteArray());
    }
    m_verifying = !reporting && !m_verifying;
    keepAskingLevel(!reporting && !m_verifying);
}

void RadioQueue::recordFoundLevel(int level)
{
    m_foundLevel = level;
    if (m_levelRecord.isEmpty())
        return;
    QDir().mkpath(QFileInfo(m_levelRecord).path());
    QSaveFile record(m_levelRecord);
    if (!record.open(QIODevice::WriteOnly) || record.write(levelCommand(level)) < 0 || !record.commit())
        emit message(QStringLiteral("cannot keep the radio's level in %1: %2")
                         .arg(m_levelRecord, record.errorString()));
}

// A query that has not left the line yet is waited for longer. A radio that
// does not answer has nothing more to say for the sets before the fence.
void RadioQueue::giveUp()
{
    if (m_radio.backlog() > 0)
        return startAnswerTimer();
    const Awaited awaited = *m_awaited;
    m_awaited.reset();
    if (m_answering)
        emit message(QStringLiteral("the radio did not answer \"%1;\" in time")
                         .arg(QString::fromLatin1(awaited.code)));
    m_answering = false;
    keepAskingLevel(true);
    if (awaited.asker == Relay)
        m_unfenced.reset();
    else
        m_unfenced = Unfenced{Relay, {awaited.code}};
    finishLeavers();
    pump();
}

void RadioQueue::startAnswerTimer()
{
    m_answerTimer.start(m_answerTimeout + m_radio.drainTime());
}

void RadioQueue::finishLeavers()
{
    QList<Session *> done;
    for (const auto &client : m_clients) {
        if (client->leaving && isDone(*client))
            done.append(client->session);
    }
    for (Session *session : done) {
        forget(session);
        session->done();
    }
}

bool RadioQueue::isDone(const Client &client) const
{
    return client.commands.isEmpty() && !(m_awaited && m_awaited->asker == client.id)
        && !(m_unfenced && m_unfenced->setter == client.id);
}

void RadioQueue::forget(const Session *session)
{
    if (m_transmitter)
        m_transmitter->forget(*session);
    std::erase_if(m_clients, [session](const auto &client) { return client->session == session; });
}

void RadioQueue::forgetRadio()
{
    m_awaited.reset();
    m_unfenced.reset();
    m_answerTimer.stop();
    m_replies = Framer(MaxReply);
    m_own.clear();
    keepAskingLevel(true);
}

// A radio not known to report is asked now and then, so that one switched
// on late is set to report.
void RadioQueue::keepAskingLevel(bool asking)
{
    if (!asking)
        m_checkTimer.stop();
    else if (!m_checkTimer.isActive())
        m_checkTimer.start();
}
