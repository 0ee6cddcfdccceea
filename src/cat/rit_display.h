#pragma once

#include <QString>

// The RIT/XIT offset as the panel shows it: a sign column, then kilohertz
// with two decimals, from an offset in units of 10 Hz. 0 gives " 0.00",
// 12 gives "+0.12", -5 gives "-0.05".
QString ritOffsetText(double offset);
