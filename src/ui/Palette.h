#pragma once

#include <QColor>

namespace parlaro::ui {

// The shared colours of every window. Built once; all sRGB.
namespace Palette {

const QColor& coral();
const QColor& violet();
const QColor& violetAlt();
const QColor& brick();
const QColor& white();
const QColor& paleGrey();
const QColor& offWhite();
const QColor& hairline();
const QColor& amber();
const QColor& alertRed();

// The colour a text or symbol takes for a tint: coral is too light to read
// on white, so it becomes brick; every other tint stays as it is.
QColor textColor(const QColor& tint);

// The colour at the given opacity (multiplied into its own alpha).
QColor withOpacity(QColor color, double opacity);

}  // namespace Palette
}  // namespace parlaro::ui
