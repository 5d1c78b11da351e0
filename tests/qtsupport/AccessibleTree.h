#pragma once

#include <QString>
#include <QStringList>

#include <string>

class QWidget;

namespace parlaro::test {

// Every control a keyboard can reach under `root` (the accessibility tree
// of each visible widget, the items inside views included) that a screen
// reader would announce without a name, or by another name than the one
// it was given, one "role object-name class" line each. Empty when every
// focusable control is named.
std::string unnamedFocusables(QWidget& root);

// "role: name [value]" of the accessible element of a widget, to compare
// what a screen reader reads.
QString accessibleSummary(QWidget* widget);

// "text | item; item; ..." of a picker: the text a screen reader reads of
// the closed picker, and the named items of the list that is its child.
QString pickerReading(QWidget* picker);

}  // namespace parlaro::test
