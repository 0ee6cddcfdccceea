#pragma once

#include <QString>
#include <QTime>

// The UTC clock's text: the local hour plus the offset's leading number,
// brought back into the day by one adjustment of 24 hours, written with two
// digits, then the local minutes and seconds unchanged ("01:45:10").
QString utcClockText(const QTime &local, const QString &utcOffset);
