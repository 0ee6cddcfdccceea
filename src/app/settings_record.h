#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

// The five settings as the settings file holds them: one line of comma-
// separated fields, text between double quotes, booleans as #TRUE# or
// #FALSE#, ended by carriage return and line feed.
struct SettingsRecord
{
    std::optional<qint16> commPortNumber;
    std::optional<QString> hostAddress;
    std::optional<QString> utcOffset;
    std::optional<bool> autoConnect;
    std::optional<bool> debugOn;
};

// A text field cannot hold a double quote or a line end; one inside the
// address or the offset would end the field early, so they are left out
// when writing.
QByteArray formatSettingsRecord(qint16 commPortNumber, const QString &hostAddress, const QString &utcOffset,
                                bool autoConnect, bool debugOn);

// Reads the fields in order. A field that is missing or cannot be read (not
// of its field's kind) stays unset, and reading goes on with the next one,
// so a hand-edited file loses no more than its bad fields.
SettingsRecord parseSettingsRecord(const QByteArray &contents);
