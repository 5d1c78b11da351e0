#pragma once

namespace parlaro::ui {

// Enter and Return press the focused button, tab or switch, as Space does:
// on a Linux desktop people press Enter on a focused button. Dialogs keep
// their own Enter (their default button), push buttons that take Enter
// themselves keep theirs, and the talk button is left alone: its Space is a
// hold, not a click.
namespace ReturnKey {

// Starts answering the key in the whole application (once).
void install();

}  // namespace ReturnKey
}  // namespace parlaro::ui
