#include "UiWorld.h"

#include "platform/KeyCodes.h"
#include "platform/sim/SimGlobalKeys.h"
#include "platform/sim/SimUserDefaults.h"
#include "ui/HoldShortcut.h"

#include <gtest/gtest.h>

#include <set>

using namespace parlaro;
using ui::HoldShortcut;
using Key = HoldShortcut::ModifierKey;

namespace {

DefaultsData bytes(const std::string& text)
{
    return DefaultsData(text.begin(), text.end());
}

std::string storedText(const sim::SimUserDefaults& defaults)
{
    auto data = defaults.get<DefaultsData>("holdShortcut");
    return data ? std::string(data->begin(), data->end()) : std::string("<none>");
}

}  // namespace

TEST(HoldShortcut, StoresExactlyTheDocumentedJsonAndLoadsItBack)
{
    sim::SimUserDefaults defaults;
    HoldShortcut::store(HoldShortcut::combo(49, 2048), defaults);
    EXPECT_EQ(storedText(defaults), R"({"combo":{"keyCode":49,"modifiers":2048}})");
    EXPECT_EQ(HoldShortcut::load(defaults), HoldShortcut::combo(49, 2048));

    HoldShortcut::store(HoldShortcut::modifier(Key::rightOption), defaults);
    EXPECT_EQ(storedText(defaults), R"({"modifier":{"_0":"rightOption"}})");
    EXPECT_EQ(HoldShortcut::load(defaults), HoldShortcut::modifier(Key::rightOption));

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
        sim::SimUserDefaults defaults;
        defaults.set("holdShortcut", bytes(text));
        EXPECT_EQ(HoldShortcut::load(defaults), std::nullopt) << text;
        EXPECT_EQ(storedText(defaults), text);
    }
    sim::SimUserDefaults wrongType;
    wrongType.set("holdShortcut", std::string(R"({"combo":{"keyCode":49,"modifiers":2048}})"));
    EXPECT_EQ(HoldShortcut::load(wrongType), std::nullopt);
}

TEST(HoldShortcut, LabelsUseFixedGlyphOrderAndTheKeyTables)
{
    test::UiWorld world;
    EXPECT_EQ(HoldShortcut::combo(49, 0x800).label(), "⌥Space");
    EXPECT_EQ(HoldShortcut::combo(122, 0).label(), "F1");
    EXPECT_EQ(HoldShortcut::combo(36, 0).label(), "↩");
    EXPECT_EQ(HoldShortcut::combo(53, 0).label(), "⎋");
    EXPECT_EQ(HoldShortcut::combo(76, 0).label(), "⌤");
    EXPECT_EQ(HoldShortcut::combo(49, 0x1B00).label(), "⌃⌥⇧⌘Space");
    EXPECT_EQ(HoldShortcut::modifierGlyphs(0x10000 | 0x1), "") << "other bits are ignored";
    EXPECT_EQ(HoldShortcut::functionKeyNames().size(), 20u);
    EXPECT_EQ(HoldShortcut::specialKeyNames().size(), 15u);

    const std::pair<Key, const char*> labels[] = {
        {Key::rightOption, "右 ⌥"},  {Key::leftOption, "左 ⌥"}, {Key::rightCommand, "右 ⌘"},
        {Key::rightControl, "右 ⌃"}, {Key::rightShift, "右 ⇧"}, {Key::function, "Fn"},
    };
    for (auto [key, label] : labels)
        EXPECT_EQ(HoldShortcut::modifier(key).label(), label);

    // A letter comes from the keyboard in use, else the code stands in.
    EXPECT_EQ(HoldShortcut::combo(0, 0x100).label(), "⌘#0");
    EXPECT_EQ(HoldShortcut::combo(70000, 0).label(), "#70000");
    sim::SimGlobalKeys keys;
    keys.characters[0] = "A";
    HoldShortcut::useKeyboard(&keys);
    EXPECT_EQ(HoldShortcut::combo(0, 0x100).label(), "⌘A");
    EXPECT_EQ(HoldShortcut::keyName(50), "#50");
    HoldShortcut::useKeyboard(nullptr);
}

TEST(HoldShortcut, CarbonModifiersKeepTheFourModifiersOnly)
{
    constexpr int shift = 0x02000000, control = 0x04000000, alt = 0x08000000, meta = 0x10000000;
    constexpr int keypad = 0x20000000, groupSwitch = 0x40000000;
    EXPECT_EQ(HoldShortcut::carbonModifiers(meta | shift), 0x300u);
    EXPECT_EQ(HoldShortcut::carbonModifiers(control | alt), 0x1800u);
    EXPECT_EQ(HoldShortcut::carbonModifiers(keypad | groupSwitch), 0u);
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
