#include "link/push_to_talk.h"

#include <QRegularExpression>

namespace {
const QString Keyed = QStringLiteral("TX;");
const QString Unkeyed = QStringLiteral("RX;");

// Whether it refused or ended, and why.
QRegularExpressionMatch matchTransmitNotice(const QString &text)
{
    static const QRegularExpression notice(QStringLiteral("^!!Q9 relay transmit (refused|ended): (.*);$"));
    return notice.match(text);
}
} // namespace

PushToTalk::PushToTalk(QObject *parent)
    : QObject(parent)
{
    m_renewal.setInterval(RenewInterval);
    connect(&m_renewal, &QTimer::timeout, this, [this] { emit send(Keyed); });
}

bool PushToTalk::leases(const QString &greeting)
{
    static const QRegularExpression limit(QStringLiteral("\\btx=\\d+\\b"));
    return limit.match(greeting).hasMatch();
}

bool PushToTalk::isTransmitNotice(const QString &text)
{
    return matchTransmitNotice(text).hasMatch();
}

void PushToTalk::noteGreeting(const QString &greeting)
{
    m_leased = leases(greeting);
}

void PushToTalk::press()
{
    if (m_pressed)
        return;
    setPressed(true);
    emit send(Keyed);
    if (m_leased)
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
    m_leased = false;
    setPressed(false);
}

// A hold the relay ended is let go, so that the next press keys again; a
// refused press held nothing.
bool PushToTalk::takeNotice(const QString &notice)
{
    const QRegularExpressionMatch match = matchTransmitNotice(notice);
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
