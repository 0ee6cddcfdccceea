#pragma once

#include <QString>

class QWidget;

// The boxes the panel shows the operator. The window receives one when
// it is built, so tests can hand in a recorder that answers from a script.
class Dialogs
{
public:
    enum class Icon { None, Warning };

    virtual ~Dialogs() = default;
    // A message with an OK button, captioned "Q9 Remote"; returns when closed.
    virtual void message(QWidget *parent, const QString &text, Icon icon) = 0;
    // The same box, but it returns at once and leaves the window working
    // while it is open: for news that nothing waits on.
    virtual void notice(QWidget *parent, const QString &text, Icon icon) = 0;
    // A question with Yes and No buttons, No being the default; true for Yes.
    virtual bool question(QWidget *parent, const QString &text) = 0;
    // An input box; returns the text entered, or an empty text when cancelled.
    virtual QString input(QWidget *parent, const QString &prompt, const QString &title,
                          const QString &proposed)
        = 0;
    // For a program that is being ended with nobody left to answer: the
    // open boxes close as if cancelled, and later ones return at once.
    // Boxes that never wait for anyone have nothing to do.
    virtual void dismissAll() { }
};

// The real boxes, QMessageBox and QInputDialog. A message's text can be
// selected and copied, as a fingerprint must be.
class QtDialogs : public Dialogs
{
public:
    void message(QWidget *parent, const QString &text, Icon icon) override;
    void notice(QWidget *parent, const QString &text, Icon icon) override;
    bool question(QWidget *parent, const QString &text) override;
    QString input(QWidget *parent, const QString &prompt, const QString &title,
                  const QString &proposed) override;
    void dismissAll() override;

private:
    bool m_dismissed = false;
};
