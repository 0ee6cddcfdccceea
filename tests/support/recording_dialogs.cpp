#include "recording_dialogs.h"

#include <algorithm>
#include <cstdio>

void RecordingDialogs::message(QWidget *parent, const QString &text, Icon icon)
{
    notice(parent, text, icon);
    deepestNesting = std::max(deepestNesting, ++m_open);
    if (whileMessageOpen && m_open == 1)
        whileMessageOpen();
    --m_open;
}

void RecordingDialogs::notice(QWidget *, const QString &text, Icon icon)
{
    messages.append((icon == Icon::Warning ? Warning : QString()) + text);
    if (echo)
        std::fprintf(stderr, "box: %s\n", qPrintable(messages.last()));
}

bool RecordingDialogs::question(QWidget *parent, const QString &text)
{
    message(parent, Question + text, Icon::None);
    return !questionAnswers.isEmpty() && questionAnswers.takeFirst();
}

QString RecordingDialogs::input(QWidget *, const QString &prompt, const QString &title,
                                const QString &proposed)
{
    inputs.append(QStringList{prompt, title, proposed}.join(u'|'));
    return inputAnswers.isEmpty() ? QString() : inputAnswers.takeFirst();
}
