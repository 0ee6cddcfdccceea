#pragma once

#include "app/dialogs.h"

#include <QStringList>

#include <functional>

// Stands in for the modal boxes: records every box, answers input boxes
// and questions from a script, and can run code while a message box is
// "open", the way the real modal loop keeps timers and sockets going. A box opened on top
// of another is only counted, so a panel that nests boxes fails a test
// rather than recursing without end.
class RecordingDialogs : public Dialogs
{
public:
    // Warning boxes are told from plain ones by this mark before their text.
    static inline const QString Warning = QStringLiteral("! ");
    // Questions are recorded as messages with this mark before their text.
    static inline const QString Question = QStringLiteral("? ");

    void message(QWidget *parent, const QString &text, Icon icon) override;
    // Recorded as a message, but nothing runs while it is open: it holds
    // nothing up.
    void notice(QWidget *parent, const QString &text, Icon icon) override;
    bool question(QWidget *parent, const QString &text) override;
    QString input(QWidget *parent, const QString &prompt, const QString &title,
                  const QString &proposed) override;

    QStringList messages;
    // Each input box as "prompt|title|proposed text".
    QStringList inputs;
    // Answers for the next input boxes, in order; an empty script cancels.
    QStringList inputAnswers;
    // Answers for the next questions, in order; No once it is empty.
    QList<bool> questionAnswers;
    std::function<void()> whileMessageOpen;
    // Each box is also written to standard error, for a panel in a process
    // of its own whose boxes a test cannot read.
    bool echo = false;
    // The most message boxes that were open at once.
    int deepestNesting = 0;

private:
    int m_open = 0;
};
