#include "link/push_to_talk.h"

#include <QRegularExpression>

namespace {
const QString Keyed = QStringLiteral("TX;");
const QString Unkeyed = QStringLiteral("RX;");
} // namespace

PushToTalk::PushToTalk(QObject *parent)
    : QObject(parent)
{
    m_renewal.setInterval(RenewInterval);
    connect(&m_renewal, &QTimer::timeout, this, [this] { emit send(Keyed); });
}

void PushToTalk::noteGreeting(const QString &greeting)
{
    static const QRegularExpression limit(QStringLiteral("\\btx=(\\d{1,5})\\b"));
    const QRegularExpressionMatch match = limit.match(greeting);
    m_limit
        = match.hasMatch() ? std::optional(std::chrono::seconds(match.captured(1).toInt())) : std::nullopt;
}

void PushToTalk::press()
{
    if (m_pressed)
        return;
    setPressed(true);
    emit send(Keyed);
    if (m_limit)
        m_renewal.start();
}

void PushToTalk::release()
{
    if (!m_pressed)
        return;
    setPressed(false);
    emit send(Unkeyed);
}

void PushToTalk::dropLink()
{
    m_limit.reset();
    setPressed(false);
}

// A hold the relay ended is let go, so that the next press keys again; a
// refused press held nothing.
bool PushToTalk::takeNotice(const QString &notice)
{
    static const QRegularExpression stopped(QStringLiteral("^!!Q9 relay transmit (refused|ended): (.*);$"));
    const QRegularExpressionMatch match = stopped.match(notice);
    if (!match.hasMatch())
        return false;
    if (!m_pressed)
        return true;
    setPressed(false);
    if (match.captured(1) == u"ended")
        emit send(Unkeyed);
    emit stoppedByRelay(match.captured(2));
    return true;
}

void PushToTalk::setPressed(bool pressed)
{
    if (!pressed)
        m_renewal.stop();
    if (std::exchange(m_pressed, pressed) != pressed)
        emit pressedChanged(pressed);
}
