#include "ui/WholePercent.h"

#include <algorithm>
#include <cmath>

namespace parlaro::ui {

int wholePercent(double fraction)
{
    if (std::isnan(fraction))
        return 0;
    double percent = std::floor(fraction * 100.0 + 1e-9);
    return static_cast<int>(std::clamp(percent, 0.0, 100.0));
}

QString percentText(double fraction)
{
    return QString::number(wholePercent(fraction)) + QLatin1Char('%');
}

}  // namespace parlaro::ui
