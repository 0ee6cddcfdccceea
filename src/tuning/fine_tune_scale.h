#pragma once

#include <QString>

// The scale under the fine-tune slider: the kilohertz that 50 positions of
// the increment cover, on both sides of the centre.
QString fineTuneScaleText(double stepHz);
