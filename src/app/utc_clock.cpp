#include "utc_clock.h"

#include "app/numbers.h"

#include <cstdlib>

QString utcClockText(const QTime &local, const QString &utcOffset)
{
    const QString localText = local.toString(QStringLiteral("HH:mm:ss"));
    double hour = local.hour() + leadingNumber(utcOffset);
    if (hour > 23)
        hour -= 24;
    else if (hour < 0)
        hour += 24;
    return formatZeroPadded(hour, 2, 0) + localText.right(6);
}

QString utcOffsetFor(int localAheadSeconds)
{
    const int hours = (std::abs(localAheadSeconds) / 60 + 29) / 60;
    // The clock adds the opposite of the zone's own offset.
    const QChar sign = localAheadSeconds > 0 && hours > 0 ? u'-' : u'+';
    return sign + QString::number(hours);
}
