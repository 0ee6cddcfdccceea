#pragma once

#include <QString>
#include <QTime>

// The UTC clock's text: the local hour plus the offset's leading number,
// brought back into the day by one adjustment of 24 hours, written with two
// digits, then the local minutes and seconds unchanged ("01:45:10").
QString utcClockText(const QTime &local, const QString &utcOffset);

// The offset that makes the clock show UTC where local time is
// `localAheadSeconds` ahead of it, as the settings file holds it: "-1" at
// UTC+1, "+5" at UTC-5, "+0" at UTC. The clock moves only the hour, so a
// zone with a part hour gets the nearest whole hour, a half hour going
// towards zero: India (UTC+05:30) gets "-5" and its clock runs 30 minutes
// ahead of UTC, Nepal (UTC+05:45) gets "-6" and runs 15 minutes behind.
QString utcOffsetFor(int localAheadSeconds);
