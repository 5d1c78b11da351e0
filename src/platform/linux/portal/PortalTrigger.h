#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace parlaro::sys {

class XkbKeymap;

// The stored combination as the shortcut portal's preferred trigger:
// modifiers CTRL, ALT, SHIFT, LOGO in that order, then the key's keysym
// name in the given layout, joined by "+" ("CTRL+ALT+space"). Only a
// suggestion: the user picks the trigger in the desktop's dialog. Nullopt
// for a key the layout has no symbol for.
std::optional<std::string> portalTrigger(std::uint32_t keyCode, std::uint32_t modifiers, const XkbKeymap& keymap);

}  // namespace parlaro::sys
