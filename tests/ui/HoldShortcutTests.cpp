#include "StringTableFiles.h"
#include "UiWorld.h"

#include "platform/KeyCodes.h"
#include "platform/sim/SimGlobalKeys.h"
#include "platform/sim/SimSettingsStore.h"
#include "support/DeepJson.h"
#include "ui/HoldShortcut.h"

#include <gtest/gtest.h>

#include <string>

using namespace parlaro;
using ui::HoldShortcut;
using Key = HoldShortcut::ModifierKey;

namespace {

DefaultsData bytes(const std::string& text)
{
    return DefaultsData(text.begin(), text.end());
}

std::string storedText(const sim::SimSettingsStore& defaults)
{
    auto data = defaults.get<DefaultsData>("holdShortcut");
    return data ? std::string(data->begin(), data->end()) : std::string("<none>");
}

}  // namespace

TEST(HoldShortcut, StoresExactlyTheDocumentedJsonAndLoadsItBack)
{
    sim::SimSettingsStore defaults;
    HoldShortcut::store(HoldShortcut::combo(49, 2048), defaults);
    EXPECT_EQ(storedText(defaults), R"({"combo":{"keyCode":49,"modifiers":2048}})");
    EXPECT_EQ(HoldShortcut::load(defaults), HoldShortcut::combo(49, 2048));

    HoldShortcut::store(HoldShortcut::modifier(Key::rightAlt), defaults);
    EXPECT_EQ(storedText(defaults), R"({"modifier":{"_0":"rightOption"}})");
    EXPECT_EQ(HoldShortcut::load(defaults), HoldShortcut::modifier(Key::rightAlt));

    for (Key key : HoldShortcut::allModifierKeys())
        EXPECT_EQ(HoldShortcut::fromJson(HoldShortcut::modifier(key).json()), HoldShortcut::modifier(key));

    // Key order and unknown keys carry no meaning.
    EXPECT_EQ(HoldShortcut::fromJson(R"({"x":1,"combo":{"modifiers":0,"keyCode":122,"y":true}})"),
              HoldShortcut::combo(122, 0));

    HoldShortcut::store(std::nullopt, defaults);
    EXPECT_FALSE(defaults.has("holdShortcut"));
    EXPECT_EQ(HoldShortcut::load(defaults), std::nullopt);
}

TEST(HoldShortcut, UnreadableDataIsNoShortcutAndStaysAsItIs)
{
    const char* unreadable[] = {
        R"({"combo":{"keyCode":49,"modifiers":2048},"modifier":{"_0":"rightOption"}})",
        R"({})",
        R"({"modifier":{"_0":"leftCommand"}})",
        R"({"modifier":{}})",
        R"({"modifier":"rightOption"})",
        R"({"combo":{"modifiers":2048}})",
        R"({"combo":{"keyCode":49}})",
        R"({"combo":{"keyCode":"49","modifiers":2048}})",
        R"({"combo":{"keyCode":-1,"modifiers":2048}})",
        R"({"combo":{"keyCode":1.5,"modifiers":2048}})",
        R"({"combo":{"keyCode":true,"modifiers":2048}})",
        R"({"combo":{"keyCode":4294967296,"modifiers":0}})",
        R"({"combo":[49,2048]})",
        R"([1])",
        R"(not json)",
        "",
    };
    for (const char* text : unreadable) {
        sim::SimSettingsStore defaults;
        defaults.set("holdShortcut", bytes(text));
        EXPECT_EQ(HoldShortcut::load(defaults), std::nullopt) << text;
        EXPECT_EQ(storedText(defaults), text);
    }
    // A shortcut beside a value nested deeper than any the program stores.
    const std::string combo = R"("combo":{"keyCode":49,"modifiers":2048})";
    EXPECT_EQ(HoldShortcut::fromJson("{" + combo + ",\"x\":" + test::nestedArrays(63) + "}"),
              HoldShortcut::combo(49, 2048));
    for (std::size_t depth : {64u, 100'000u})
        EXPECT_EQ(HoldShortcut::fromJson("{" + combo + ",\"x\":" + test::nestedArrays(depth) + "}"), std::nullopt);
    sim::SimSettingsStore wrongType;
    wrongType.set("holdShortcut", std::string(R"({"combo":{"keyCode":49,"modifiers":2048}})"));
    EXPECT_EQ(HoldShortcut::load(wrongType), std::nullopt);
}

TEST(HoldShortcut, LabelsUseTheKeyboardsOwnNamesInTheInterfaceLanguage)
{
    test::UiWorld world;
    for (const char* code : {"zh-Hans", "en", "de"})
        test::loadStringTables(world.platform.bundles, code);

    InterfaceLanguage::set("zh-Hans");
    EXPECT_EQ(HoldShortcut::combo(49, 0x800).label(), "Alt+空格");
    EXPECT_EQ(HoldShortcut::combo(49, 0x1B00).label(), "Ctrl+Alt+Shift+Super+空格") << "the desktop's order";
    EXPECT_EQ(HoldShortcut::combo(122, 0x1000).label(), "Ctrl+F1");
    EXPECT_EQ(HoldShortcut::modifierNames(0x10000 | 0x1), "") << "other bits are ignored";
    EXPECT_EQ(HoldShortcut::modifier(Key::rightAlt).label(), "右 Alt");

    InterfaceLanguage::set("en");
    const std::pair<HoldShortcut, const char*> english[] = {
        {HoldShortcut::combo(49, 0x1800), "Ctrl+Alt+Space"},
        {HoldShortcut::combo(36, 0x200), "Shift+Enter"},
        {HoldShortcut::combo(53, 0), "Esc"},
        {HoldShortcut::combo(76, 0), "Keypad Enter"},
        {HoldShortcut::combo(116, 0x100), "Super+Page Up"},
        {HoldShortcut::combo(123, 0x1000), "Ctrl+←"},
        {HoldShortcut::modifier(Key::rightAlt), "Right Alt"},
        {HoldShortcut::modifier(Key::leftAlt), "Left Alt"},
        {HoldShortcut::modifier(Key::rightSuper), "Right Super"},
        {HoldShortcut::modifier(Key::rightControl), "Right Ctrl"},
        {HoldShortcut::modifier(Key::rightShift), "Right Shift"},
        {HoldShortcut::modifier(Key::function), "Fn"},
    };
    for (const auto& [shortcut, label] : english)
        EXPECT_EQ(shortcut.label(), label);

    InterfaceLanguage::set("de");
    EXPECT_EQ(HoldShortcut::combo(49, 0x1800).label(), "Strg+Alt+Leertaste");
    EXPECT_EQ(HoldShortcut::modifier(Key::rightControl).label(), "Strg rechts");

    // No label anywhere still shows another system's glyphs.
    InterfaceLanguage::set("en");
    for (std::uint32_t code = 0; code < 128; ++code) {
        for (std::uint32_t mask : {0u, 0x1B00u}) {
            const std::string label = HoldShortcut::combo(code, mask).label();
            for (const char* glyph : {"⌃", "⌥", "⇧", "⌘", "↩", "⇥", "⌫", "⌦", "⎋", "⌤", "⇞", "⇟"})
                EXPECT_EQ(label.find(glyph), std::string::npos) << code << ": " << label;
        }
    }
    for (Key key : HoldShortcut::allModifierKeys())
        EXPECT_EQ(HoldShortcut::modifier(key).label().find("⌥"), std::string::npos);

    // A letter comes from the keyboard in use, else the code stands in; where
    // the layout makes right Alt its third-level shift, it is AltGr.
    EXPECT_EQ(HoldShortcut::combo(0, 0x100).label(), "Super+#0");
    EXPECT_EQ(HoldShortcut::combo(70000, 0).label(), "#70000");
    sim::SimGlobalKeys keys;
    keys.characters[0] = "A";
    HoldShortcut::useKeyboard(&keys);
    EXPECT_EQ(HoldShortcut::combo(0, 0x100).label(), "Super+A");
    EXPECT_EQ(HoldShortcut::keyName(50), "#50");
    EXPECT_EQ(HoldShortcut::modifier(Key::rightAlt).label(), "Right Alt");
    keys.characters[61] = "AltGr";
    EXPECT_EQ(HoldShortcut::modifier(Key::rightAlt).label(), "AltGr");
    HoldShortcut::useKeyboard(nullptr);
}

TEST(HoldShortcut, ModifierMaskKeepsTheFourModifiersOnly)
{
    constexpr int shift = 0x02000000, control = 0x04000000, alt = 0x08000000, meta = 0x10000000;
    constexpr int keypad = 0x20000000, groupSwitch = 0x40000000;
    EXPECT_EQ(HoldShortcut::modifierMask(meta | shift), 0x300u);
    EXPECT_EQ(HoldShortcut::modifierMask(control | alt), 0x1800u);
    EXPECT_EQ(HoldShortcut::modifierMask(keypad | groupSwitch), 0u);
}

TEST(HoldShortcut, ModifierKeysMatchTheirCodesAndRawValues)
{
    std::vector<std::uint16_t> codes;
    for (Key key : HoldShortcut::allModifierKeys()) {
        codes.push_back(HoldShortcut::keyCode(key));
        EXPECT_EQ(HoldShortcut::modifierKeyFromRaw(HoldShortcut::rawValue(key)), key);
    }
    EXPECT_EQ(codes, (std::vector<std::uint16_t>{61, 58, 54, 62, 60, 63}));
    EXPECT_EQ(HoldShortcut::modifierKeyFromRaw("RightOption"), std::nullopt);
}
