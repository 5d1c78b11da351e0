#include "platform/linux/xkb/XkbKeymap.h"

#include <gtest/gtest.h>

using namespace parlaro;

namespace {

constexpr std::uint32_t xRightAlt = 108;
constexpr std::uint32_t xLeftShift = 50;
constexpr std::uint32_t xLetterA = 38;

}  // namespace

TEST(XkbKeymap, NamesKeysByTheLayoutAndTellsModifiersBySymbol)
{
    auto us = sys::XkbKeymap::fromLayout("us");
    ASSERT_TRUE(us->valid());
    EXPECT_EQ(us->character(0), "A");
    EXPECT_EQ(us->character(6), "Z");
    EXPECT_EQ(us->character(50), "`");
    EXPECT_EQ(us->character(36), std::nullopt) << "Return types a control character";
    EXPECT_EQ(us->character(52), std::nullopt) << "no such key";
    EXPECT_TRUE(us->isModifier(xRightAlt));
    EXPECT_EQ(us->character(61), std::nullopt) << "right Alt is plain Alt here";
    EXPECT_TRUE(us->isModifier(xLeftShift));
    EXPECT_FALSE(us->isModifier(xLetterA));

    // The same physical keys on other layouts, upper-cased beyond ASCII.
    auto de = sys::XkbKeymap::fromLayout("de");
    ASSERT_TRUE(de->valid());
    EXPECT_EQ(de->character(6), "Y");
    EXPECT_EQ(de->character(41), "Ö");
    EXPECT_TRUE(de->isModifier(xRightAlt)) << "AltGr is a level shift";
    EXPECT_EQ(de->character(61), "AltGr") << "and is named as its key cap";
    auto fr = sys::XkbKeymap::fromLayout("fr");
    EXPECT_EQ(fr->character(0), "Q");

    sys::XkbKeymap empty(nullptr, nullptr);
    EXPECT_EQ(empty.character(0), std::nullopt);
    EXPECT_FALSE(empty.isModifier(xRightAlt));
}
