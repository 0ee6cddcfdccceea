#pragma once

#include <QString>

// How the panel reads numbers out of reply fields and box texts, and how it
// writes them into commands and displays. Free of widgets so they can be
// tested on their own.

// Reads the number at the start of a text the way the radio's fields are
// read: blanks (space, tab, line feed) are skipped wherever they stand, then
// an optional sign, digits, an optional point and further digits, up to the
// first character that cannot continue the number. No number reads as 0.
double leadingNumber(const QString &text);

// Rounds to the given number of decimals, a half going away from zero.
// Values that are meant as decimal halves but carry binary noise
// (7040.005 held as 7040.00499999...) count as halves too.
double roundHalfAway(double value, int decimals = 0);

// Converts to an integer range without undefined behaviour: rounds half away
// from zero and clamps to [low, high].
int toBoundedInt(double value, int low, int high);

// Fixed patterns: at least minIntegerDigits digits before the point (leading
// zeros), exactly `decimals` after it, a leading "-" when negative.
//   "00000.00" -> formatZeroPadded(v, 5, 2)
//   "000.000"  -> formatZeroPadded(v, 3, 3)
//   "0.00"     -> formatZeroPadded(v, 1, 2)
//   "0000", "000", "00" -> formatZeroPadded(v, 4|3|2, 0)
QString formatZeroPadded(double value, int minIntegerDigits, int decimals);

// Optional-digit patterns: no leading zeros, at most `decimals` decimals with
// trailing zeros dropped, the point always written when decimals > 0.
//   "#####.##" -> formatOptionalDigits(v, 2): 7040 -> "7040.", 7040.5 -> "7040.5"
//   "#######"  -> formatOptionalDigits(v, 0): 0 -> "" (no digits at all)
QString formatOptionalDigits(double value, int decimals);
