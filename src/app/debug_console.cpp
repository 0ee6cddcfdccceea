#include "app/rmt_q9.h"
#include "ui_rmt_q9.h"

namespace {
// The receive window keeps the newest lines only: with the S-meter polled
// ten times a second it would otherwise grow for as long as the panel runs.
constexpr int DebugWindowLines = 3000;
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
        ui->Text1->setPlainText(u'\n' + chunk);
        return;
    }
    ui->Text1->appendPlainText(chunk);
}

void Rmt_Q9::replaceDebugText(const QString &text)
{
    ui->Text1->setPlainText(text);
}
