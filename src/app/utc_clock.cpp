#include "utc_clock.h"

#include "app/numbers.h"

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
