#pragma once

#include <QString>

// The set-frequency command for VFO A ("FA") or B ("FB") from a frequency in
// kilohertz: the whole hertz without leading zeros behind a prefix that pads
// the field to eleven digits between 1 MHz and 100 MHz. 7040 kHz on VFO A
// gives "FA00007040000;"; a box without a number gives "FA0000;".
QString setFrequencyCommand(const QString &code, double kHz);

// The frequency display text of the VFO boxes: kilohertz with at least five
// integer digits and two decimals (10 Hz resolution), "07040.50".
QString frequencyDisplayText(double kHz);
