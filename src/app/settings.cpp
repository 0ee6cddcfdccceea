#include "app/rmt_q9.h"
#include "app/settings_record.h"
#include "app/utc_clock.h"
#include "ui_rmt_q9.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
const QString SettingsFile = QStringLiteral("d9iduzid.ini");
// The relay server a first start proposes: a typical shack computer on the
// operator's home network.
const QString DefaultServerAddress = QStringLiteral("192.168.1.20");
// The record is one short line; a settings file of any other size is read
// no further than this.
constexpr qint64 MaxSettingsBytes = 64 * 1024;

// A directory, a FIFO or a device under the file's name is left alone: it
// counts as unreadable and is never written. Opening a FIFO would wait for
// a writer for ever.
bool isForeignFile()
{
    const QFileInfo info(SettingsFile);
    return info.exists() && !info.isFile();
}
} // namespace

// Each setting starts from what a first start would use, so a field that
// is missing or cannot be read keeps that, not an empty value. A first start
// sets the clock to UTC from the computer's time zone as it is now; from
// then on the file's offset stands, as the operator may have changed it.
void Rmt_Q9::LoadSettings()
{
    g.CommPortNumber = 1;
    g.HostAddress = DefaultServerAddress;
    g.UtcOffset = utcOffsetFor(QDateTime::currentDateTime().offsetFromUtc());
    g.AutoConnect = false;
    if (isForeignFile())
        return;
    QFile file(SettingsFile);
    if (!file.open(QIODevice::ReadOnly)) {
        SaveSettings();
        if (!file.open(QIODevice::ReadOnly))
            return;
    }
    const SettingsRecord record = parseSettingsRecord(file.read(MaxSettingsBytes));
    g.CommPortNumber = record.commPortNumber.value_or(g.CommPortNumber);
    g.HostAddress = record.hostAddress.value_or(g.HostAddress);
    g.UtcOffset = record.utcOffset.value_or(g.UtcOffset);
    g.AutoConnect = record.autoConnect.value_or(g.AutoConnect);
    g.DebugOn = record.debugOn.value_or(g.DebugOn);
}

// Written whole to a temporary file that replaces the old one only once
// every byte of it is written, so a crash or a full disk leaves the old file
// as it was. Nobody may be looking at the panel when it ends, so a failure
// is told on standard error, not in a box.
void Rmt_Q9::SaveSettings()
{
    if (isForeignFile())
        return;
    const QByteArray record
        = formatSettingsRecord(g.CommPortNumber, g.HostAddress, g.UtcOffset, g.AutoConnect, g.DebugOn);
    QSaveFile file(SettingsFile);
    if (file.open(QIODevice::WriteOnly) && file.write(record) == record.size() && file.flush()
        && file.commit())
        return;
    std::fprintf(stderr, "q9remote: cannot save the settings in %s: %s; the file is left as it was\n",
                 qPrintable(QFileInfo(SettingsFile).absoluteFilePath()), std::strerror(errno));
}

void Rmt_Q9::applySettingsToMenu()
{
    checkPortItem(g.CommPortNumber);
    ui->debug_on->setChecked(g.DebugOn);
    showDebugConsole(g.DebugOn);
    ui->Auto_comm_con->setChecked(g.AutoConnect);
}
