#pragma once

class QKeyEvent;

namespace parlaro::ui {

// Enter and Return act on the focused control as Space does: a button,
// tab or switch is pressed and a picker opens its list. On a Linux desktop
// people press Enter on a focused control, and in a dialog the key must not
// run past it to the default button: that button answers Enter only when
// it has the focus itself or the focus is on a control with no action of
// its own (a text field). Push buttons that take Enter themselves keep
// theirs, and the talk button is left alone: its Space is a hold, not a
// click.
namespace ReturnKey {

// Starts answering the key in the whole application (once).
void install();

// Enter or Return, on the main keys or the keypad, with no other modifier.
bool isReturn(const QKeyEvent& key);

}  // namespace ReturnKey
}  // namespace parlaro::ui
