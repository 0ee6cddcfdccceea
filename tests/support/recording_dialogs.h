#pragma once

#include "app/dialogs.h"

#include <QList>
#include <QStringList>

#include <functional>

// Stands in for the modal boxes: records every box, answers input boxes
// from a script, and can run code while a message box is "open", the way
// the real modal loop keeps timers and sockets going.
class RecordingDialogs : public Dialogs
{
public:
    struct Message
    {
        QString text;
        Icon icon;
    };
    struct Input
    {
        QString prompt;
        QString title;
        QString proposed;
    };

    void message(QWidget *parent, const QString &text, Icon icon) override;
    QString input(QWidget *parent, const QString &prompt, const QString &title,
                  const QString &proposed) override;

    QStringList messageTexts() const;

    QList<Message> messages;
    QList<Input> inputs;
    // Answers for the next input boxes, in order; an empty script cancels.
    QStringList inputAnswers;
    // Runs while a message box is open; `depth` counts boxes open at once.
    std::function<void()> whileMessageOpen;
    int openMessages = 0;
    int deepestNesting = 0;
};
