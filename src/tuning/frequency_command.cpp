#include "frequency_command.h"

#include "app/numbers.h"

QString setFrequencyCommand(const QString &code, double kHz)
{
    // The prefix is chosen on the kilohertz before rounding: 9999.9999 kHz
    // keeps the four-zero prefix although its hertz round to 10000000.
    const QString prefix = code + (kHz >= 10000 ? QStringLiteral("000") : QStringLiteral("0000"));
    return prefix + formatOptionalDigits(kHz * 1000, 0) + u';';
}

QString frequencyDisplayText(double kHz)
{
    return formatZeroPadded(kHz, 5, 2);
}
