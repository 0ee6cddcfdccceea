#include "fine_tune_scale.h"

#include "app/numbers.h"

QString fineTuneScaleText(double stepHz)
{
    const QString reach = formatZeroPadded(0.05 * stepHz, 3, 3);
    return QStringLiteral("    | -") + reach + QStringLiteral("  | 0 | +") + reach + QStringLiteral(" | khz");
}
