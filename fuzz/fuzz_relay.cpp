// Plays a script of what the relay's clients and the radio do through the
// clients' framing and the radio queue, and holds what reaches the radio and
// each client to the queue's rules, kept in a small model. A rule broken
// traps.
//
// The script is lines. The first names two to four clients, a character
// each: "P" a panel, which signs off with "##", anything else a CAT program.
// Each further line is one event:
//   rBYTES    the radio sends BYTES
//   t         time passes: every answer awaited is given up
//   l         the line to the radio is lost and opens again
//   N>BYTES   client N (a digit, modulo the number of clients) sends BYTES
//   N.        client N leaves gently
//   N!        client N is cut off
//   N~        client N stops reading: what it is given next cuts it off
// The relay takes the radio first, as it does when it starts. At the end the
// radio answers every command as it comes, refusing all but the relay's
// level check, until it is asked nothing more.
//
// The rules:
// - The radio is sent whole printable commands only, each the next one some
//   client took, or the relay's own "AI;" and "AI2;": while it serves, it
//   keeps the radio reporting.
// - A client hears only what it is owed: the answer to its query (a reply
//   with the query's code, or "?;"), "?;" while its sets are not fenced, the
//   relay's answer to a command the relay keeps, and reports while its level
//   is above 0 and it has not left.
// - A client cut off or done hears nothing more; a client is done only once
//   it has left, everything it took has been dealt with and its query is not
//   awaited.
// - In the end, everything taken by a client still there has been dealt
//   with, every refusal of its sets has reached it, and every client that
//   left is done.

#include "cat_commands.h"
#include "radio_line.h"
#include "radio_queue.h"
#include "session.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace {

void check(bool holds)
{
    if (!holds)
        __builtin_trap();
}

// What the radio may be sent, stated here rather than taken from
// CatCommand::isPrintable(), so that a slip there shows.
bool isPlainText(QByteArrayView text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= ' ' && c <= '~') || c == '\r' || c == '\n'; });
}

bool isWhole(const QByteArray &text)
{
    return text.endsWith(';') && text.count(';') == 1;
}

std::optional<int> levelOf(QByteArrayView command)
{
    const QByteArrayView argument = CatCommand::argument(command);
    if (argument.size() != 1 || argument.front() < '0' || argument.front() > '2')
        return std::nullopt;
    return argument.front() - '0';
}

bool isKeptByRelay(const QByteArray &command)
{
    return !isPlainText(command) || CatCommand::code(command) == "AI";
}

// What the relay answers a command it keeps; nothing to a level it takes.
QByteArray answerHere(const QByteArray &command, int level)
{
    if (!isPlainText(command))
        return "?;";
    if (CatCommand::argument(command).isEmpty())
        return "AI" + QByteArray::number(level) + ';';
    return levelOf(command) ? QByteArray() : "?;";
}

// What the radio says at the end: the level the relay keeps to its check,
// nothing to being set to it, "?;" to anything else.
QByteArray refusingAnswer(const QByteArray &command)
{
    if (command == "AI;")
        return "AI2;";
    return command == "AI2;" ? QByteArray() : "?;";
}

// The asker of the relay's own queries.
constexpr int Own = -1;

struct ClientState
{
    bool panel = false;
    QByteArray unfinished;
    // Taken and not yet dealt with, in order.
    QByteArrayList pending;
    int level = 0;
    bool leaving = false;
    bool cutOff = false;
    bool done = false;
    // Its sets have been sent and may still be refused, the first of them
    // at unfencedSince. Known late: the fence's answer is not seen, only
    // what the relay sends after it.
    bool unfenced = false;
    int unfencedSince = 0;
    // The relay has answered its first pending command.
    bool answeredHere = false;
    // Its sets the radio refused at the end, not yet told.
    int refusalsOwed = 0;
};

struct Query
{
    int asker;
    QByteArray code;
    int sentAt;
};

struct Model
{
    // Cuts what a client sends as the relay must: at ";", dropping a command
    // longer than the longest whole, and for a panel ending at "##" where a
    // command could begin.
    void took(int i, QByteArrayView data)
    {
        ClientState &client = clients[i];
        client.unfinished += data;
        while (!(client.panel && client.unfinished.startsWith("##"))) {
            const qsizetype end = client.unfinished.indexOf(';');
            if (end < 0)
                return;
            if (end <= CatCommand::MaxLength)
                client.pending.append(client.unfinished.first(end + 1));
            client.unfinished.remove(0, end + 1);
        }
        client.leaving = true;
    }

    // A client's command is claimed by the readOn() that follows.
    void sent(const QByteArray &command)
    {
        check(!unclaimed && isWhole(command) && isPlainText(command));
        ++clock;
        settle();
        if (answering && !refusingAnswer(command).isEmpty())
            answers.append(refusingAnswer(command));
        if (CatCommand::code(command) != "AI")
            unclaimed = command;
        else if (command == "AI;")
            awaited = Query{Own, "AI", clock};
        else
            check(command == "AI2;");
    }

    // The queue reads on from a client each time it has dealt with one of
    // its commands: sent it, or answered it itself.
    void dealtWith(int i)
    {
        ClientState &client = clients[i];
        check(!client.pending.isEmpty());
        const QByteArray command = client.pending.takeFirst();
        const bool answered = std::exchange(client.answeredHere, false);
        if (unclaimed) {
            check(command == *unclaimed);
            unclaimed.reset();
            if (CatCommand::isQuery(command)) {
                awaited = Query{i, CatCommand::code(command), clock};
            } else {
                if (!client.unfenced)
                    client.unfencedSince = clock;
                client.unfenced = true;
                if (answering)
                    ++client.refusalsOwed;
            }
            return;
        }
        check(isKeptByRelay(command));
        const QByteArray answer = answerHere(command, client.level);
        // Its refusal may have passed for one of its sets'.
        check(answered || answer.isEmpty() || (answer == "?;" && client.unfenced));
        if (answer.isEmpty())
            client.level = *levelOf(command);
    }

    void delivered(int i, const QByteArray &text)
    {
        ClientState &client = clients[i];
        check(!client.cutOff && !client.done && isWhole(text));
        const bool refusal = CatCommand::isRejection(text);
        const QByteArray code = CatCommand::code(text);
        if (awaited && awaited->asker == i && hearingSince > awaited->sentAt
            && (refusal || code == awaited->code))
            return awaited.reset();
        if (refusal && client.unfenced && hearingSince > client.unfencedSince) {
            client.refusalsOwed = std::max(client.refusalsOwed - 1, 0);
            return;
        }
        if (!client.answeredHere && !client.pending.isEmpty() && isKeptByRelay(client.pending.first())
            && text == answerHere(client.pending.first(), client.level)) {
            client.answeredHere = true;
            return;
        }
        check(!refusal && code != "AI" && client.level > 0 && !client.leaving);
    }

    void finished(int i)
    {
        ClientState &client = clients[i];
        check(client.leaving && !client.cutOff && !client.done && client.pending.isEmpty()
              && !(awaited && awaited->asker == i));
        client.done = true;
    }

    // The query last sent has been answered or given up; after the relay's
    // "AI;", so has every set before it.
    void settle()
    {
        if (awaited && awaited->asker == Own)
            forgetSets();
        awaited.reset();
    }

    void forgetSets()
    {
        for (ClientState &client : clients)
            client.unfenced = false;
    }

    std::vector<ClientState> clients;
    std::optional<Query> awaited;
    std::optional<QByteArray> unclaimed;
    // The radio answers every command, in turn.
    bool answering = false;
    QByteArrayList answers;
    // Every send and every chunk from the radio is a tick: a chunk answers
    // nothing sent after it began.
    int clock = 0;
    int hearingSince = 0;
};

class ScriptedLine : public RadioLine
{
public:
    explicit ScriptedLine(Model &model)
        : m_model(model)
    { }

    void send(const QByteArray &commands) override { m_model.sent(commands); }
    qint64 backlog() const override { return 0; }
    std::chrono::milliseconds drainTime() const override { return {}; }

private:
    Model &m_model;
};

class ScriptedClient : public Session
{
public:
    ScriptedClient(RadioQueue &queue, Model &model, int index, Protocol protocol)
        : Session(queue, protocol, QStringLiteral("client %1").arg(index))
        , m_model(model)
        , m_index(index)
    { }

    using Session::leave;
    using Session::take;

    // Like a client whose unread text has filled its room.
    void stall() { m_stalled = true; }

    void deliver(const QByteArray &text) override
    {
        m_model.delivered(m_index, text);
        if (m_stalled) {
            m_model.clients[m_index].cutOff = true;
            cutOff(QStringLiteral("is not reading; cut off"));
        }
    }
    void readOn() override { m_model.dealtWith(m_index); }
    void done() override { m_model.finished(m_index); }
    void cutOff(const QString &why) override { dropFromQueue(why); }

private:
    Model &m_model;
    int m_index;
    bool m_stalled = false;
};

class Relay
{
public:
    explicit Relay(QByteArrayView names)
    {
        const qsizetype count = std::clamp<qsizetype>(names.size(), 2, 4);
        for (int i = 0; i < count; ++i) {
            const bool panel = i < names.size() && names[i] == 'P';
            m_model.clients.emplace_back().panel = panel;
            m_clients.push_back(std::make_unique<ScriptedClient>(
                m_queue, m_model, i, panel ? Session::Protocol::Panel : Session::Protocol::Cat));
        }
        m_queue.setAnswerTimeout(std::chrono::milliseconds(0));
        m_queue.takeRadio();
    }

    void play(const QByteArray &line)
    {
        if (line.startsWith('r'))
            hear(line.sliced(1));
        else if (line.startsWith('t'))
            passTime();
        else if (line.startsWith('l'))
            loseRadio();
        else if (line.size() >= 2 && line[0] >= '0' && line[0] <= '9')
            act((line[0] - '0') % static_cast<int>(m_clients.size()), line[1], line.sliced(2));
    }

    void answerEverything()
    {
        qsizetype pending = 0;
        for (const ClientState &client : m_model.clients)
            pending += client.pending.size();
        m_model.answering = true;
        // Whatever the radio left unfinished ends here.
        hear(";");
        if (m_model.awaited && m_model.answers.isEmpty())
            m_model.answers.append(m_model.awaited->asker == Own ? "AI2;" : "?;");
        for (qsizetype turns = 0; !m_model.answers.isEmpty(); ++turns) {
            // A command and a fence before it each, and the relay's own.
            check(turns <= 2 * pending + 8);
            hear(m_model.answers.takeFirst());
        }
        for (const ClientState &client : m_model.clients) {
            check(client.cutOff
                  || (client.pending.isEmpty() && client.done == client.leaving && client.refusalsOwed == 0));
        }
    }

private:
    void hear(const QByteArray &bytes)
    {
        m_model.hearingSince = ++m_model.clock;
        emit m_radio.received(bytes);
        m_model.hearingSince = 0;
    }

    void act(int i, char how, QByteArrayView bytes)
    {
        ClientState &state = m_model.clients[i];
        ScriptedClient &client = *m_clients[i];
        if (how == '!') {
            if (state.cutOff || state.done)
                return;
            state.cutOff = true;
            client.cutOff(QStringLiteral("cut off"));
            return;
        }
        if (how == '~') {
            if (!state.cutOff && !state.done)
                client.stall();
            return;
        }
        if (state.leaving || state.cutOff)
            return;
        if (how == '.') {
            state.leaving = true;
            client.leave(QStringLiteral("left"));
            return;
        }
        m_model.took(i, bytes);
        client.take(bytes);
        check(client.hasLeft() == (state.leaving || state.cutOff));
    }

    void passTime()
    {
        m_model.settle();
        QCoreApplication::processEvents();
    }

    void loseRadio()
    {
        m_model.settle();
        m_model.forgetSets();
        emit m_radio.lost();
        emit m_radio.opened();
    }

    Model m_model;
    ScriptedLine m_radio{m_model};
    RadioQueue m_queue{m_radio};
    std::vector<std::unique_ptr<ScriptedClient>> m_clients;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static int argc = 1;
    static char name[] = "fuzz_relay";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayList lines
        = QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)).split('\n');
    Relay relay(lines.first());
    for (qsizetype i = 1; i < lines.size(); ++i)
        relay.play(lines.at(i));
    relay.answerEverything();
    return 0;
}
