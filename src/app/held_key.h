#pragma once

#include <QKeySequence>
#include <QObject>
#include <QWidget>

#include <functional>

// A key held down in a window, wherever its focus is: told when it goes
// down and when it comes up, its repeats not being presses. It goes no
// further, so no control takes it for typing.
class HeldKey : public QObject
{
public:
    HeldKey(QWidget *window, std::function<void(bool pressed)> changed);
    void setKey(const QKeySequence &key) { m_key = key; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_window;
    std::function<void(bool)> m_changed;
    QKeySequence m_key;
};
