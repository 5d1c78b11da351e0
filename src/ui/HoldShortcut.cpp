#include "ui/HoldShortcut.h"

#include "platform/GlobalKeys.h"
#include "platform/JsonInput.h"
#include "platform/SettingsStore.h"
#include "speech/Localization.h"

#include <nlohmann/json.hpp>

#include <array>
#include <limits>

namespace parlaro::ui {
namespace {

const GlobalKeys* keyboard = nullptr;

constexpr std::array<HoldShortcut::ModifierKey, 6> modifierKeys{
    HoldShortcut::ModifierKey::rightAlt,   HoldShortcut::ModifierKey::leftAlt,
    HoldShortcut::ModifierKey::rightSuper, HoldShortcut::ModifierKey::rightControl,
    HoldShortcut::ModifierKey::rightShift, HoldShortcut::ModifierKey::function,
};

constexpr const char* storageKey = "holdShortcut";
// What the keyboard says the right Alt key is where the layout makes it the
// third-level shift.
constexpr const char* altGr = "AltGr";

// Qt::KeyboardModifier values, kept here so this file needs no Qt.
constexpr int qtShift = 0x02000000;
constexpr int qtControl = 0x04000000;
constexpr int qtAlt = 0x08000000;
constexpr int qtMeta = 0x10000000;

std::optional<std::uint32_t> readUInt32(const nlohmann::json& object, const char* key)
{
    auto found = object.find(key);
    if (found == object.end() || !found->is_number_unsigned())
        return std::nullopt;
    auto value = found->get<std::uint64_t>();
    if (value > std::numeric_limits<std::uint32_t>::max())
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

}  // namespace

HoldShortcut HoldShortcut::combo(std::uint32_t keyCode, std::uint32_t modifiers)
{
    return HoldShortcut(Combo{keyCode, modifiers});
}

HoldShortcut HoldShortcut::modifier(ModifierKey key)
{
    return HoldShortcut(key);
}

std::span<const HoldShortcut::ModifierKey> HoldShortcut::allModifierKeys()
{
    return modifierKeys;
}

// The stored spellings predate the key names and stay as they are, so saved
// shortcuts keep loading.
std::string HoldShortcut::rawValue(ModifierKey key)
{
    switch (key) {
    case ModifierKey::rightAlt:
        return "rightOption";
    case ModifierKey::leftAlt:
        return "leftOption";
    case ModifierKey::rightSuper:
        return "rightCommand";
    case ModifierKey::rightControl:
        return "rightControl";
    case ModifierKey::rightShift:
        return "rightShift";
    case ModifierKey::function:
        return "function";
    }
    return {};
}

std::optional<HoldShortcut::ModifierKey> HoldShortcut::modifierKeyFromRaw(std::string_view raw)
{
    for (ModifierKey key : modifierKeys)
        if (rawValue(key) == raw)
            return key;
    return std::nullopt;
}

std::uint16_t HoldShortcut::keyCode(ModifierKey key)
{
    switch (key) {
    case ModifierKey::rightAlt:
        return 61;
    case ModifierKey::leftAlt:
        return 58;
    case ModifierKey::rightSuper:
        return 54;
    case ModifierKey::rightControl:
        return 62;
    case ModifierKey::rightShift:
        return 60;
    case ModifierKey::function:
        return 63;
    }
    return 0;
}

std::string HoldShortcut::label(ModifierKey key)
{
    switch (key) {
    case ModifierKey::rightAlt:
        // Layouts that type a third level with it (German, French, ...) name
        // the key AltGr, and so does its key cap.
        if (keyboard && keyboard->keyCharacter(keyCode(key)) == std::optional<std::string>(altGr))
            return altGr;
        return localized("右 ⌥");
    case ModifierKey::leftAlt:
        return localized("左 ⌥");
    case ModifierKey::rightSuper:
        return localized("右 ⌘");
    case ModifierKey::rightControl:
        return localized("右 ⌃");
    case ModifierKey::rightShift:
        return localized("右 ⇧");
    case ModifierKey::function:
        return "Fn";
    }
    return {};
}

std::string HoldShortcut::label() const
{
    if (const Combo* c = asCombo())
        return modifierNames(c->modifiers) + keyName(c->keyCode);
    return label(*asModifier());
}

std::string HoldShortcut::json() const
{
    nlohmann::json object;
    if (const Combo* c = asCombo())
        object["combo"] = {{"keyCode", c->keyCode}, {"modifiers", c->modifiers}};
    else
        object["modifier"] = {{"_0", rawValue(*asModifier())}};
    return object.dump();
}

std::optional<HoldShortcut> HoldShortcut::fromJson(std::string_view text)
{
    std::optional<nlohmann::json> parsed = parseJsonInput(text);
    if (!parsed || !parsed->is_object())
        return std::nullopt;
    nlohmann::json& object = *parsed;
    bool hasCombo = object.contains("combo");
    bool hasModifier = object.contains("modifier");
    if (hasCombo == hasModifier)
        return std::nullopt;
    if (hasCombo) {
        const nlohmann::json& combo = object["combo"];
        if (!combo.is_object())
            return std::nullopt;
        auto keyCode = readUInt32(combo, "keyCode");
        auto modifiers = readUInt32(combo, "modifiers");
        if (!keyCode || !modifiers)
            return std::nullopt;
        return HoldShortcut::combo(*keyCode, *modifiers);
    }
    const nlohmann::json& modifier = object["modifier"];
    if (!modifier.is_object())
        return std::nullopt;
    auto raw = modifier.find("_0");
    if (raw == modifier.end() || !raw->is_string())
        return std::nullopt;
    auto key = modifierKeyFromRaw(raw->get<std::string>());
    if (!key)
        return std::nullopt;
    return HoldShortcut::modifier(*key);
}

std::optional<HoldShortcut> HoldShortcut::load(const SettingsStore& defaults)
{
    auto data = defaults.get<DefaultsData>(storageKey);
    if (!data)
        return std::nullopt;
    return fromJson(std::string_view(reinterpret_cast<const char*>(data->data()), data->size()));
}

void HoldShortcut::store(const std::optional<HoldShortcut>& shortcut, SettingsStore& defaults)
{
    if (!shortcut) {
        defaults.remove(storageKey);
        return;
    }
    std::string text = shortcut->json();
    defaults.set(storageKey, DefaultsData(text.begin(), text.end()));
}

std::uint32_t HoldShortcut::modifierMask(int qtModifiers)
{
    std::uint32_t mask = 0;
    if (qtModifiers & qtMeta)
        mask |= superMask;
    if (qtModifiers & qtAlt)
        mask |= altMask;
    if (qtModifiers & qtControl)
        mask |= controlMask;
    if (qtModifiers & qtShift)
        mask |= shiftMask;
    return mask;
}

std::string HoldShortcut::modifierNames(std::uint32_t mask)
{
    // The keyboard's own names in the order the desktop writes them, each
    // joined to what follows by "+": "Ctrl+Alt+Space".
    std::string names;
    if (mask & controlMask)
        names += localized("⌃") + "+";
    if (mask & altMask)
        names += localized("⌥") + "+";
    if (mask & shiftMask)
        names += localized("⇧") + "+";
    if (mask & superMask)
        names += localized("⌘") + "+";
    return names;
}

const std::map<std::uint32_t, std::string>& HoldShortcut::functionKeyNames()
{
    static const std::map<std::uint32_t, std::string> names{
        {122, "F1"},  {120, "F2"},  {99, "F3"},   {118, "F4"},  {96, "F5"},   {97, "F6"},   {98, "F7"},
        {100, "F8"},  {101, "F9"},  {109, "F10"}, {103, "F11"}, {111, "F12"}, {105, "F13"}, {107, "F14"},
        {113, "F15"}, {106, "F16"}, {64, "F17"},  {79, "F18"},  {80, "F19"},  {90, "F20"},
    };
    return names;
}

std::optional<std::string> HoldShortcut::specialKeyName(std::uint32_t keyCode)
{
    // Each word a literal, so every table is checked for it; the arrows
    // need no words.
    switch (keyCode) {
    case 49:
        return localized("空格");
    case 36:
        return localized("↩");
    case 48:
        return localized("⇥");
    case 51:
        return localized("⌫");
    case 117:
        return localized("⌦");
    case 53:
        return localized("⎋");
    case 115:
        return localized("↖");
    case 119:
        return localized("↘");
    case 116:
        return localized("⇞");
    case 121:
        return localized("⇟");
    case 76:
        return localized("⌤");
    case 123:
        return "←";
    case 124:
        return "→";
    case 125:
        return "↓";
    case 126:
        return "↑";
    default:
        return std::nullopt;
    }
}

void HoldShortcut::useKeyboard(const GlobalKeys* keys)
{
    keyboard = keys;
}

std::string HoldShortcut::keyName(std::uint32_t keyCode)
{
    if (auto found = functionKeyNames().find(keyCode); found != functionKeyNames().end())
        return found->second;
    if (auto name = specialKeyName(keyCode))
        return *name;
    if (keyboard) {
        if (auto character = keyboard->keyCharacter(keyCode); character && !character->empty())
            return *character;
    }
    return "#" + std::to_string(keyCode);
}

}  // namespace parlaro::ui
