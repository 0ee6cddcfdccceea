#include "app/rmt_q9.h"
#include "ui_rmt_q9.h"

#include <QTextCursor>

namespace {

// The radio takes at most this many characters of text in one keying
// command; a line break leaves as two, carriage return and line feed.
constexpr int CwTextLimit = 24;

int wireLength(QChar c)
{
    return c == u'\n' ? 2 : 1;
}

int wireLength(const QString &text)
{
    int length = 0;
    for (const QChar c : text)
        length += wireLength(c);
    return length;
}

} // namespace

void Rmt_Q9::wireCwSender()
{
    connect(ui->CWsend, &QPlainTextEdit::textChanged, this, &Rmt_Q9::CWsend_Change);
    connect(ui->CW_SendBuff, &QPushButton::clicked, this, &Rmt_Q9::CW_SendBuff_Click);
    connect(ui->CW_Stop, &QPushButton::clicked, this, &Rmt_Q9::CW_Stop_Click);
    connect(ui->CW_ClearBox, &QPushButton::clicked, this, &Rmt_Q9::CW_ClearBox_Click);
}

// Holds the box to the limit. What was just typed or pasted ends at the
// caret, so the excess is taken back from there, leaving the caret where the
// kept text ends; whatever still exceeds goes from the end.
void Rmt_Q9::CWsend_Change()
{
    const QString text = ui->CWsend->toPlainText();
    int excess = wireLength(text) - CwTextLimit;
    if (excess <= 0)
        return;
    const int caret = ui->CWsend->textCursor().position();
    int from = caret;
    while (excess > 0 && from > 0)
        excess -= wireLength(text.at(--from));
    if (from > 0 && text.at(from).isLowSurrogate())
        --from;
    int end = static_cast<int>(text.size());
    while (excess > 0 && end > caret)
        excess -= wireLength(text.at(--end));

    QTextCursor cut = ui->CWsend->textCursor();
    cut.beginEditBlock();
    cut.setPosition(end);
    cut.setPosition(static_cast<int>(text.size()), QTextCursor::KeepAnchor);
    cut.removeSelectedText();
    cut.setPosition(from);
    cut.setPosition(caret, QTextCursor::KeepAnchor);
    cut.removeSelectedText();
    cut.endEditBlock();
    ui->CWsend->setTextCursor(cut);
}

// The radio keys the text at its own speed. While it transmits its S-meter
// has nothing to show, so the poll stops here and stays off until the
// operator turns it on again.
void Rmt_Q9::CW_SendBuff_Click()
{
    stopSmeterPoll();
    QString text = ui->CWsend->toPlainText();
    text.replace(u'\n', QStringLiteral("\r\n"));
    SendCommand(QStringLiteral("KY ") + text + u';');
}

void Rmt_Q9::CW_Stop_Click()
{
    SendCommand(QStringLiteral("KY @;"));
}

void Rmt_Q9::CW_ClearBox_Click()
{
    ui->CWsend->clear();
}
