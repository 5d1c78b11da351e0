#pragma once

#include <QString>

namespace parlaro::ui {

// A progress fraction as the whole percent it has reached, 0 to 100. The
// tiny allowance keeps fractions such as 0.29, whose product with 100 lands
// just under 29 in binary floating point, from showing one percent short.
int wholePercent(double fraction);

// "42%": the whole percent and the sign, the same in every language.
QString percentText(double fraction);

}  // namespace parlaro::ui
