#include "app/held_key.h"

#include <QApplication>
#include <QKeyEvent>

HeldKey::HeldKey(QWidget *window, std::function<void(bool pressed)> changed)
    : QObject(window)
    , m_window(window)
    , m_changed(std::move(changed))
{
    qApp->installEventFilter(this);
}

bool HeldKey::eventFilter(QObject *watched, QEvent *event)
{
    const bool press = event->type() == QEvent::KeyPress;
    if (!press && event->type() != QEvent::KeyRelease)
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    const auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || widget->window() != m_window || m_key.isEmpty() || key->keyCombination() != m_key[0])
        return false;
    if (!key->isAutoRepeat())
        m_changed(press);
    return true;
}
