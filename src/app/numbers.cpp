#include "numbers.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

double pow10(int decimals)
{
    return std::pow(10.0, decimals);
}

// The rounded, scaled value as plain decimal digits without sign, for values
// far beyond the range of any integer type too.
QString wholeDigits(double roundedScaled)
{
    return QString::number(std::fabs(roundedScaled), 'f', 0);
}

} // namespace

double leadingNumber(const QString &text)
{
    QString number;
    bool seenPoint = false;
    bool seenDigitOrPoint = false;
    for (const QChar c : text) {
        if (isBlank(c))
            continue;
        if ((c == u'+' || c == u'-') && number.isEmpty()) {
            number += c;
        } else if (c.isDigit() && c.unicode() < 128) {
            number += c;
            seenDigitOrPoint = true;
        } else if (c == u'.' && !seenPoint) {
            number += c;
            seenPoint = true;
            seenDigitOrPoint = true;
        } else {
            break;
        }
    }
    if (!seenDigitOrPoint)
        return 0.0;
    const double value = std::strtod(number.toLatin1().constData(), nullptr);
    if (std::isinf(value))
        return std::copysign(std::numeric_limits<double>::max(), value);
    return value;
}

double roundHalfAway(double value, int decimals)
{
    if (!std::isfinite(value))
        return value;
    const double scale = pow10(decimals);
    const double scaled = value * scale;
    if (!std::isfinite(scaled))
        return value;
    const double below = std::floor(std::fabs(scaled));
    const double fraction = std::fabs(scaled) - below;
    const double tolerance = 1e-9 * std::max(1.0, std::fabs(scaled));
    double magnitude = below;
    if (fraction > 0.5 - tolerance)
        magnitude += 1.0;
    return std::copysign(magnitude, value) / scale;
}

int toBoundedInt(double value, int low, int high)
{
    if (std::isnan(value))
        return low;
    const double rounded = roundHalfAway(value);
    if (rounded <= low)
        return low;
    if (rounded >= high)
        return high;
    return static_cast<int>(rounded);
}

QString formatZeroPadded(double value, int minIntegerDigits, int decimals)
{
    if (!std::isfinite(value))
        return QString::number(value);
    const double scaled = std::round(roundHalfAway(value, decimals) * pow10(decimals));
    QString digits = wholeDigits(scaled).rightJustified(minIntegerDigits + decimals, u'0');
    if (decimals > 0)
        digits.insert(digits.size() - decimals, u'.');
    return (scaled < 0 ? QStringLiteral("-") : QString()) + digits;
}

QString formatOptionalDigits(double value, int decimals)
{
    if (!std::isfinite(value))
        return QString::number(value);
    const double scaled = std::round(roundHalfAway(value, decimals) * pow10(decimals));
    QString digits = wholeDigits(scaled).rightJustified(decimals + 1, u'0');
    QString integerPart = digits.left(digits.size() - decimals);
    QString fraction = digits.right(decimals);
    if (integerPart == u"0")
        integerPart.clear();
    while (fraction.endsWith(u'0'))
        fraction.chop(1);
    const QString sign = scaled < 0 ? QStringLiteral("-") : QString();
    if (decimals == 0)
        return sign + integerPart;
    return sign + integerPart + u'.' + fraction;
}
