#include "platform/linux/portal/PortalTrigger.h"

#include "platform/linux/xkb/XkbKeymap.h"

namespace parlaro::sys {

std::optional<std::string> portalTrigger(std::uint32_t keyCode, std::uint32_t modifiers, const XkbKeymap& keymap)
{
    auto symbol = keymap.symbolName(keyCode);
    if (!symbol)
        return std::nullopt;
    // The stored masks: 0x1000 Control, 0x800 Alt, 0x200 Shift, 0x100 Super.
    std::string trigger;
    for (auto [bit, name] : {std::pair{0x1000u, "CTRL"}, {0x800u, "ALT"}, {0x200u, "SHIFT"}, {0x100u, "LOGO"}}) {
        if (modifiers & bit)
            trigger += std::string(name) + "+";
    }
    return trigger + *symbol;
}

}  // namespace parlaro::sys
