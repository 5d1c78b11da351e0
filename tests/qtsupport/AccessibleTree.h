#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace parlaro::test {

// Every control a keyboard can reach under `root` (the accessibility tree
// of each visible widget, the items inside views included) that a screen
// reader would announce without a name, as "role object-name class" lines.
// Empty when every focusable control is named.
QStringList unnamedFocusables(QWidget& root);

// "role: name [value]" of the accessible element of a widget, to compare
// what a screen reader reads.
QString accessibleSummary(QWidget* widget);

}  // namespace parlaro::test
