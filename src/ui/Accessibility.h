#pragma once

#include <QAccessible>

class QLabel;
class QString;
class QWidget;

namespace parlaro::ui::Accessibility {

// Installs, once, what assistive technology reads from our own controls:
// combo boxes are named by what they pick (Qt names them by their value
// here), the talk button says when it
// refuses a hold while it keeps the focus, and level bars give their level.
void install();

// Exposes the widget with another role than its class has (a row of the
// settings sidebar is a page tab, not a check box). Set it before the
// widget is first read.
void setRole(QWidget* widget, QAccessible::Role role);

// Tells a screen reader `text` now, through `note` (a label with the
// AlertMessage role, where the user is). The note is shown afresh, so the
// same words twice are news twice.
void announce(QLabel* note, const QString& text);

}  // namespace parlaro::ui::Accessibility
