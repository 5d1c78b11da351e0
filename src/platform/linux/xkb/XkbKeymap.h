#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct xkb_context;
struct xkb_keymap;

namespace parlaro::sys {

// One keyboard layout, for naming keys and telling modifiers apart.
class XkbKeymap {
public:
    // Takes ownership of both (either may be null: an empty keymap).
    XkbKeymap(xkb_context* context, xkb_keymap* keymap);
    ~XkbKeymap();
    XkbKeymap(const XkbKeymap&) = delete;
    XkbKeymap& operator=(const XkbKeymap&) = delete;

    // The layout the environment names (XKB_DEFAULT_*), else the built-in default.
    static std::unique_ptr<XkbKeymap> fromDefaults();
    // A named layout ("us", "de") on the standard rules and model.
    static std::unique_ptr<XkbKeymap> fromLayout(const std::string& layout);

    bool valid() const { return keymap_ != nullptr; }
    // The upper-case character of the stored key code on the first level;
    // "AltGr" for the key the layout makes its third-level shift; nullopt
    // for other keys that type nothing printable.
    std::optional<std::string> character(std::uint32_t keyCode) const;
    // True when the X keycode's first-level symbol is a modifier (Shift,
    // Control, Alt, Super, the level shifts, Caps and Num Lock).
    bool isModifier(std::uint32_t xKeycode) const;

private:
    std::uint32_t firstSymbol(std::uint32_t xKeycode) const;

    xkb_context* context_;
    xkb_keymap* keymap_;
};

}  // namespace parlaro::sys
