#include "app/rmt_q9.h"
#include "ui_rmt_q9.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace {
// The receive window keeps the newest lines only: with the S-meter polled
// ten times a second it would otherwise grow for as long as the panel runs.
// A bound on characters as well keeps long lines from doing the same.
constexpr int DebugWindowLines = 3000;
constexpr int DebugWindowCharacters = 256 * 1024;
// A chunk longer than a screenful (far more than the window shows at once)
// is echoed by its start and its end: laid out as one huge line, a burst of
// megabytes would hold the panel for minutes.
constexpr qsizetype EchoHead = 1000;
constexpr qsizetype EchoTail = 1000;

QString echoOf(const QString &chunk)
{
    const qsizetype leftOut = chunk.size() - EchoHead - EchoTail;
    if (leftOut <= 0)
        return chunk;
    return chunk.left(EchoHead) + QStringLiteral("\n[%1 characters left out]\n").arg(leftOut)
        + chunk.right(EchoTail);
}

// Removes whole lines from the top until the window is within its bound.
void dropOldestLines(QTextDocument *document)
{
    const int excess = document->characterCount() - DebugWindowCharacters;
    if (excess <= 0)
        return;
    const QTextBlock last = document->findBlock(excess);
    QTextCursor cursor(document);
    cursor.setPosition(std::min(last.position() + last.length(), document->characterCount() - 1),
                       QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}
} // namespace

void Rmt_Q9::wireDebugConsole()
{
    ui->Text1->setMaximumBlockCount(DebugWindowLines);
    connect(ui->debug_on, &QAction::triggered, this, &Rmt_Q9::debug_on_Click);
    connect(ui->send_cmd, &QPushButton::clicked, this, &Rmt_Q9::send_cmd_Click);
}

void Rmt_Q9::debug_on_Click()
{
    g.DebugOn = !g.DebugOn;
    ui->debug_on->setChecked(g.DebugOn);
    showDebugConsole(g.DebugOn);
}

// Sends the box's text as it stands, so the same command can go again; a
// line break typed in the box leaves as carriage return and line feed.
void Rmt_Q9::send_cmd_Click()
{
    QString text = ui->Debug_send->toPlainText();
    text.replace(u'\n', QStringLiteral("\r\n"));
    SendCommand(text);
}

void Rmt_Q9::showDebugConsole(bool visible)
{
    for (QWidget *control : {static_cast<QWidget *>(ui->Debug_send), static_cast<QWidget *>(ui->send_cmd),
                             static_cast<QWidget *>(ui->Text1), static_cast<QWidget *>(ui->Label4),
                             static_cast<QWidget *>(ui->Label10)})
        control->setVisible(visible);
}

// A line break and the raw chunk at the end, appended as a new line rather
// than the whole text rewritten, so each chunk costs the same however long
// the panel runs. appendPlainText is the log-friendly way: inserting through
// a cursor into a block-limited document keeps memory for every line ever
// shown.
void Rmt_Q9::appendDebugText(const QString &chunk)
{
    if (ui->Text1->document()->isEmpty()) {
        // The first line of an empty window is the line break itself.
        ui->Text1->setPlainText(u'\n' + echoOf(chunk));
        return;
    }
    ui->Text1->appendPlainText(echoOf(chunk));
    dropOldestLines(ui->Text1->document());
}

void Rmt_Q9::replaceDebugText(const QString &text)
{
    ui->Text1->setPlainText(text);
}
