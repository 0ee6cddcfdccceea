#pragma once

#include <QColor>

class QLabel;
class QString;
class QWidget;

// The panel's palette: the colours that show state, then those of its look.
namespace PanelColour {
inline const QColor On{0, 255, 0};           // a function, VFO or option is on
inline const QColor IndicatorOff{0, 0, 255}; // RIT/XIT labels off, same as their frame
inline const QColor MeterReceive{255, 255, 0};
inline const QColor MeterTransmit{128, 0, 0};
inline const QColor OffsetActive{0, 255, 255}; // RIT or XIT in use
inline const QColor OffsetIdle{0, 0, 0};
inline const QColor Transmitting{255, 0, 0}; // the push-to-talk lamp while the panel transmits

inline const QColor PanelGrey{128, 128, 128};
inline const QColor SectionGrey{96, 96, 96}; // the frames, darker than the panel
inline const QColor TrimGrey{72, 72, 72};    // the debug console's bay
inline const QColor CaptionOnDark{255, 255, 255};
inline const QColor ReadoutBack{0, 0, 0}; // read-outs as on the radio: bright digits on black
inline const QColor ReadoutDigits{255, 191, 0};
inline const QColor DisplayBezel{48, 48, 48};
inline const QColor ConsoleGreen{0, 128, 0};
inline const QColor CwBoxGrey{224, 224, 224};

// The platform's button face: what a button shows when its function is off.
QColor buttonFace();
} // namespace PanelColour

// Marks a control whose colour shows a state: an on-button, a lamp or the
// S-meter. The panel's style paints it as a flat fill of exactly its colour,
// and from then on setBackColour tells assistive tools whether it is on
// (green): a button as checked, a lamp in its description, "on" or "off".
void showStateByColour(QWidget *control);
bool showsStateByColour(const QWidget *control);
// A read-out beside a slider shows its reading; a screen reader hears it as
// the description under the read-out's own name, which says what it reads.
void showReading(QLabel *readout, const QString &reading);

// One place to set and read the back colour of any control, button or label.
void setBackColour(QWidget *control, const QColor &colour);
QColor backColour(const QWidget *control);
void setTextColour(QWidget *control, const QColor &colour);
QColor textColour(const QWidget *control);
// The filled part of a gauge.
void setGaugeColour(QWidget *gauge, const QColor &colour);
QColor gaugeColour(const QWidget *gauge);
// Shorthand for the common case: green when on, button face when off.
void setOnColour(QWidget *control, bool on);
