#include "platform/linux/xkb/XkbKeymap.h"

#include "platform/KeyCodes.h"

#include <xkbcommon/xkbcommon.h>

namespace parlaro::sys {

XkbKeymap::XkbKeymap(xkb_context* context, xkb_keymap* keymap) : context_(context), keymap_(keymap)
{
}

XkbKeymap::~XkbKeymap()
{
    if (keymap_)
        xkb_keymap_unref(keymap_);
    if (context_)
        xkb_context_unref(context_);
}

std::unique_ptr<XkbKeymap> XkbKeymap::fromDefaults()
{
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_keymap* keymap = context ? xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
    return std::make_unique<XkbKeymap>(context, keymap);
}

std::unique_ptr<XkbKeymap> XkbKeymap::fromLayout(const std::string& layout)
{
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    xkb_rule_names names{};
    names.layout = layout.c_str();
    xkb_keymap* keymap = context ? xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
    return std::make_unique<XkbKeymap>(context, keymap);
}

std::uint32_t XkbKeymap::firstSymbol(std::uint32_t xKeycode) const
{
    if (!keymap_)
        return XKB_KEY_NoSymbol;
    const xkb_keysym_t* symbols = nullptr;
    int count = xkb_keymap_key_get_syms_by_level(keymap_, xKeycode, 0, 0, &symbols);
    return count > 0 ? symbols[0] : XKB_KEY_NoSymbol;
}

std::optional<std::string> XkbKeymap::character(std::uint32_t keyCode) const
{
    auto evdev = keycodes::toEvdev(keyCode);
    if (!evdev)
        return std::nullopt;
    xkb_keysym_t symbol = firstSymbol(*evdev + keycodes::xKeycodeOffset);
    if (symbol == XKB_KEY_NoSymbol)
        return std::nullopt;
    // The key cap's name of the third-level shift, which types nothing.
    if (symbol == XKB_KEY_ISO_Level3_Shift)
        return std::string("AltGr");
    char text[16] = {};
    int size = xkb_keysym_to_utf8(xkb_keysym_to_upper(symbol), text, sizeof text);
    // Control characters (Return, Tab, Delete) name nothing readable.
    if (size <= 1 || static_cast<unsigned char>(text[0]) < 0x20 || text[0] == 0x7F)
        return std::nullopt;
    return std::string(text);
}

bool XkbKeymap::isModifier(std::uint32_t xKeycode) const
{
    xkb_keysym_t symbol = firstSymbol(xKeycode);
    return (symbol >= XKB_KEY_Shift_L && symbol <= XKB_KEY_Hyper_R) || symbol == XKB_KEY_ISO_Level3_Shift
        || symbol == XKB_KEY_ISO_Level5_Shift || symbol == XKB_KEY_Num_Lock || symbol == XKB_KEY_Mode_switch;
}

}  // namespace parlaro::sys
