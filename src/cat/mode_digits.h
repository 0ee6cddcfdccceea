#pragma once

#include <QChar>
#include <QString>

// The radio's mode digits ("MD" command, mode field of the status record)
// and the option button of the MODE group that stands for each.
struct ModeDigit
{
    QChar digit;
    const char *button; // object name of the option button
};

inline constexpr ModeDigit ModeDigits[] = {
    {u'1', "lsb_md"},  {u'2', "usb_md"}, {u'3', "cw_md"},
    {u'6', "data_md"}, {u'7', "cwr_md"}, {u'9', "datar_md"},
};

// The option button's object name for a digit, or empty for digits that
// stand for no button (0, 4, 5, 8 and anything else).
inline QString modeButtonFor(QChar digit)
{
    for (const ModeDigit &mode : ModeDigits) {
        if (mode.digit == digit)
            return QString::fromLatin1(mode.button);
    }
    return {};
}
