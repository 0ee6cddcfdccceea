#include "recording_dialogs.h"

#include <algorithm>

void RecordingDialogs::message(QWidget *, const QString &text, Icon icon)
{
    messages.append({text, icon});
    ++openMessages;
    deepestNesting = std::max(deepestNesting, openMessages);
    if (whileMessageOpen)
        whileMessageOpen();
    --openMessages;
}

QString RecordingDialogs::input(QWidget *, const QString &prompt, const QString &title,
                                const QString &proposed)
{
    inputs.append({prompt, title, proposed});
    return inputAnswers.isEmpty() ? QString() : inputAnswers.takeFirst();
}

QStringList RecordingDialogs::messageTexts() const
{
    QStringList texts;
    for (const Message &m : messages)
        texts.append(m.text);
    return texts;
}
