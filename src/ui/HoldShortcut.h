#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <variant>

namespace parlaro {
class GlobalKeys;
class SettingsStore;
}  // namespace parlaro

namespace parlaro::ui {

// The keys the user holds to talk from anywhere: a key combination (a stored
// key code with a modifier mask) or one modifier key held alone. Stored as
// JSON data under "holdShortcut".
class HoldShortcut {
public:
    // Mask bits, as stored in "holdShortcut" (their values are kept so that
    // saved shortcuts still read); Super is Qt's Meta.
    static constexpr std::uint32_t superMask = 0x100;
    static constexpr std::uint32_t shiftMask = 0x200;
    static constexpr std::uint32_t altMask = 0x800;
    static constexpr std::uint32_t controlMask = 0x1000;

    enum class ModifierKey { rightAlt, leftAlt, rightSuper, rightControl, rightShift, function };

    struct Combo {
        std::uint32_t keyCode = 0;
        std::uint32_t modifiers = 0;
        bool operator==(const Combo&) const = default;
    };

    static HoldShortcut combo(std::uint32_t keyCode, std::uint32_t modifiers);
    static HoldShortcut modifier(ModifierKey key);

    const Combo* asCombo() const { return std::get_if<Combo>(&value_); }
    const ModifierKey* asModifier() const { return std::get_if<ModifierKey>(&value_); }

    bool operator==(const HoldShortcut&) const = default;

    // What every view shows for it, in the keyboard's own names and the
    // interface language: "Ctrl+Alt+Space", "Right Alt" (or "AltGr"), "F5".
    std::string label() const;
    std::string json() const;
    // Nullopt for anything that is not exactly one well-formed shortcut.
    static std::optional<HoldShortcut> fromJson(std::string_view text);

    // Unreadable data is no shortcut and is left as it is.
    static std::optional<HoldShortcut> load(const SettingsStore& defaults);
    // None removes the key.
    static void store(const std::optional<HoldShortcut>& shortcut, SettingsStore& defaults);

    // The stored mask of Qt::KeyboardModifiers as an int (Meta, Shift, Alt,
    // Control kept).
    static std::uint32_t modifierMask(int qtModifiers);
    // "Ctrl+Alt+Shift+Super+" for the bits set, in that order.
    static std::string modifierNames(std::uint32_t mask);
    static std::string keyName(std::uint32_t keyCode);
    static const std::map<std::uint32_t, std::string>& functionKeyNames();
    // Keys named by word or arrow rather than by the character they type.
    static std::optional<std::string> specialKeyName(std::uint32_t keyCode);

    // Where keyName() looks up a key's character; none gives "#<code>".
    static void useKeyboard(const GlobalKeys* keys);

    static std::span<const ModifierKey> allModifierKeys();
    static std::string rawValue(ModifierKey key);
    static std::optional<ModifierKey> modifierKeyFromRaw(std::string_view raw);
    static std::uint16_t keyCode(ModifierKey key);
    static std::string label(ModifierKey key);

private:
    explicit HoldShortcut(std::variant<Combo, ModifierKey> value) : value_(value) {}
    std::variant<Combo, ModifierKey> value_;
};

}  // namespace parlaro::ui
