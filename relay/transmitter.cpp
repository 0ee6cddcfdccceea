#include "transmitter.h"

#include "cat_commands.h"
#include "radio_line.h"
#include "radio_queue.h"
#include "session.h"

namespace {
constexpr QByteArrayView Unkey = "RX;";
} // namespace

Transmitter::Transmitter(RadioQueue &queue, RadioLine &radio, QObject *parent)
    : QObject(parent)
    , m_queue(queue)
    , m_radio(radio)
{
    m_lease.setSingleShot(true);
    m_lease.setInterval(Lease);
    connect(&m_lease, &QTimer::timeout, this,
            [this] { unkey(QStringLiteral("its lease lapsed"), Ending::ByRelay); });
    m_playingOut.setSingleShot(true);
    connect(&m_playingOut, &QTimer::timeout, this,
            [this] { unkey(QStringLiteral("let go"), Ending::PlayedOut); });
    m_limitTimer.setSingleShot(true);
    connect(&m_limitTimer, &QTimer::timeout, this, [this] {
        unkey(QStringLiteral("the transmit limit of %1 seconds passed").arg(m_limit.count()),
              Ending::ByRelay);
    });
}

std::optional<Transmitter::Method> Transmitter::methodNamed(QStringView name)
{
    for (const Method method : {Method::Cat, Method::Rts, Method::Dtr, Method::Vox}) {
        if (name == nameOf(method))
            return method;
    }
    return std::nullopt;
}

QString Transmitter::nameOf(Method method)
{
    switch (method) {
    case Method::Cat:
        return QStringLiteral("cat");
    case Method::Rts:
        return QStringLiteral("rts");
    case Method::Dtr:
        return QStringLiteral("dtr");
    case Method::Vox:
        return QStringLiteral("vox");
    }
    return {};
}

// A line that keys the radio is held dropped from the start.
void Transmitter::setMethod(Method method)
{
    m_method = method;
    keyLine(false);
}

void Transmitter::setLimit(std::chrono::seconds limit)
{
    m_limit = limit;
}

bool Transmitter::concerns(QByteArrayView command)
{
    return CatCommand::keysTransmitter(command) || isRelease(command);
}

bool Transmitter::isRelease(QByteArrayView command)
{
    return CatCommand::code(command) == "RX";
}

std::optional<QString> Transmitter::refusal(const Session &session, QByteArrayView command) const
{
    if (!CatCommand::keysTransmitter(command))
        return std::nullopt;
    if (m_holder && m_holder != &session)
        return QStringLiteral("%1 holds the transmitter").arg(m_holderName);
    // A panel was told; its renewals still on their way are let fall.
    if (m_cutOff.contains(&session) && CatCommand::code(command) == "TX"
        && session.protocol() == Session::Protocol::Cat)
        return QStringLiteral("it has not let go since it was unkeyed");
    return std::nullopt;
}

// Only a running lease is renewed: once the holder's "RX;" has been taken,
// a "TX;" after it is a press again, taken in its turn.
void Transmitter::arrived(const Session &session, QByteArrayView command)
{
    if (&session == m_holder && m_lease.isActive() && CatCommand::code(command) == "TX")
        m_lease.start();
}

// Only push-to-talk holds the transmitter; a tune or CW text from the
// holder, or from anyone while nobody holds it, goes to the radio, which
// ends them itself.
bool Transmitter::take(Session &session, QByteArrayView command)
{
    if (isRelease(command)) {
        m_cutOff.remove(&session);
        if (m_holder && m_holder != &session)
            return false;
        if (m_holder && !m_audioPlayed.hasExpired()) {
            m_lease.stop();
            m_playingOut.start(
                std::chrono::ceil<std::chrono::milliseconds>(m_audioPlayed.remainingTimeAsDuration()));
            return false;
        }
        unkey(QStringLiteral("let go"), Ending::LetGo);
        return true;
    }
    if (CatCommand::code(command) != "TX")
        return true;
    if (m_cutOff.contains(&session))
        return false;
    if (m_holder == &session) {
        // Pressed again while its last words play: it goes on.
        m_playingOut.stop();
        if (session.protocol() == Session::Protocol::Panel)
            m_lease.start();
        return false;
    }
    hold(session, command);
    return m_method == Method::Cat;
}

void Transmitter::hold(Session &session, QByteArrayView command)
{
    m_holder = &session;
    m_holderName = session.name();
    m_keyedFor.start();
    // A CAT program does not renew: its hold lasts while it is there.
    if (session.protocol() == Session::Protocol::Panel)
        m_lease.start();
    m_limitTimer.start(m_limit);
    keyLine(true);
    emit message(QStringLiteral("%1 keys the transmitter (%2, \"%3\")")
                     .arg(m_holderName, nameOf(m_method), QString::fromLatin1(command)));
}

void Transmitter::heardAudio(std::chrono::milliseconds playout)
{
    if (!m_holder)
        return;
    m_audioPlayed.setRemainingTime(playout);
    if (m_lease.isActive())
        m_lease.start();
    if (m_playingOut.isActive())
        m_playingOut.start(playout);
}

void Transmitter::forget(const Session &session)
{
    if (m_holder == &session)
        unkey(QStringLiteral("it left"), Ending::Gone);
    m_cutOff.remove(&session);
}

void Transmitter::release()
{
    unkey(QStringLiteral("the relay stops"), Ending::Stopping);
}

// Ended by the relay, it goes to the radio as the relay's own command, ahead
// of the clients' commands; a relay that stops sends it straight to the
// line, as nothing is served after.
void Transmitter::unkey(const QString &why, Ending ending)
{
    Session *holder = std::exchange(m_holder, nullptr);
    if (!holder)
        return;
    m_lease.stop();
    m_limitTimer.stop();
    m_playingOut.stop();
    m_audioPlayed = QDeadlineTimer();
    if (m_method == Method::Cat && ending == Ending::Stopping)
        m_radio.send(Unkey.toByteArray());
    else if (m_method == Method::Cat && ending != Ending::LetGo)
        m_queue.command(Unkey.toByteArray());
    keyLine(false);
    emit message(QStringLiteral("%1 unkeyed after %2 s: %3")
                     .arg(m_holderName)
                     .arg(double(m_keyedFor.elapsed()) / 1000, 0, 'f', 1)
                     .arg(why));
    if (ending == Ending::ByRelay || ending == Ending::Stopping) {
        m_cutOff.insert(holder);
        holder->notice(QStringLiteral("transmit ended: %1").arg(why));
    }
    emit released();
}

void Transmitter::keyLine(bool on)
{
    if (m_method != Method::Rts && m_method != Method::Dtr)
        return;
    const auto line = m_method == Method::Rts ? RadioLine::ControlLine::Rts : RadioLine::ControlLine::Dtr;
    if (!m_radio.setControlLine(line, on))
        emit message(
            QStringLiteral("cannot %1 the radio port's %2 line")
                .arg(on ? QStringLiteral("raise") : QStringLiteral("drop"), nameOf(m_method).toUpper()));
}
