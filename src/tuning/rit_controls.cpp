#include "app/rmt_q9.h"
#include "ui_rmt_q9.h"

// The radio keeps the offset. Every button but the single steps asks for
// the status record, whose reply shows the offset and the switches.
void Rmt_Q9::wireRitControls()
{
    sendOnClick({{ui->ru10, QStringLiteral("RU;")}, {ui->rd10, QStringLiteral("RD;")}});
    connect(ui->ru50, &QPushButton::clicked, this, [this] { RitStepUp(10); });
    connect(ui->rd50, &QPushButton::clicked, this, [this] { RitStepDown(10); });
    connect(ui->ru1k, &QPushButton::clicked, this, [this] { RitStepUp(25); });
    connect(ui->rd1k, &QPushButton::clicked, this, [this] { RitStepDown(25); });
    connect(ui->rit_clr, &QPushButton::clicked, this, &Rmt_Q9::rit_clr_Click);
    connect(ui->rit_cmd, &QPushButton::clicked, this, &Rmt_Q9::rit_cmd_Click);
    connect(ui->xit_cmd, &QPushButton::clicked, this, &Rmt_Q9::xit_cmd_Click);
}

// One 10 Hz step per command.
void Rmt_Q9::RitStepUp(int count)
{
    sendRitSteps(QStringLiteral("RU;"), count);
}

void Rmt_Q9::RitStepDown(int count)
{
    sendRitSteps(QStringLiteral("RD;"), count);
}

// The radio's reports are held back while it steps, so that the one status
// record at the end shows where the offset came to rest.
void Rmt_Q9::sendRitSteps(const QString &step, int count)
{
    SendCommand(QStringLiteral("AI0;"));
    for (int i = 0; i < count; ++i)
        SendCommand(step);
    SendCommand(QStringLiteral("IF;AI2;"));
}

void Rmt_Q9::rit_clr_Click()
{
    SendCommand(QStringLiteral("RC;IF;"));
}

// Against the last status record: until one reports it on, a switch is off.
void Rmt_Q9::rit_cmd_Click()
{
    SendCommand(g.RitOn == 1 ? QStringLiteral("RT0;IF;") : QStringLiteral("RT1;IF;"));
}

void Rmt_Q9::xit_cmd_Click()
{
    SendCommand(g.XitOn == 1 ? QStringLiteral("XT0;IF;") : QStringLiteral("XT1;IF;"));
}
