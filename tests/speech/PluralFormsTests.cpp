#include "speech/InterfaceLanguage.h"
#include "speech/PluralForms.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace parlaro {
namespace {

const std::string sentences = "{0, plural, one {# sentence} other {# sentences}}";

TEST(PluralForms, ChoosesTheFormOfTheLanguagesCategory)
{
    EXPECT_EQ(choosePluralForms(sentences, {"1"}, "en"), "1 sentence");
    EXPECT_EQ(choosePluralForms(sentences, {"0"}, "en"), "0 sentences");
    EXPECT_EQ(choosePluralForms(sentences, {"21"}, "en"), "21 sentences");
    // French counts 0 with 1; Polish has few and many.
    const std::string french = "{0, plural, one {# phrase} other {# phrases}}";
    EXPECT_EQ(choosePluralForms(french, {"0"}, "fr"), "0 phrase");
    EXPECT_EQ(choosePluralForms(french, {"2"}, "fr"), "2 phrases");
    const std::string polish = "{0, plural, one {# zdanie} few {# zdania} many {# zdań} other {# zdania}}";
    EXPECT_EQ(choosePluralForms(polish, {"1"}, "pl"), "1 zdanie");
    EXPECT_EQ(choosePluralForms(polish, {"3"}, "pl"), "3 zdania");
    EXPECT_EQ(choosePluralForms(polish, {"5"}, "pl"), "5 zdań");
    EXPECT_EQ(choosePluralForms(polish, {"22"}, "pl"), "22 zdania");
    // A language without plurals takes other.
    EXPECT_EQ(choosePluralForms("{0, plural, one {x} other {# 句}}", {"1"}, "zh"), "1 句");
}

TEST(PluralForms, ExactValuesNestingAndSeveralCountsInOneText)
{
    EXPECT_EQ(choosePluralForms("{0, plural, =0 {none} one {one} other {#}}", {"0"}, "en"), "none");
    const std::string german = "{1, plural, one {# Gespräch löschen, das älter als {0, plural, one {# Tag} other {# "
                               "Tage}} ist?} other {# Gespräche löschen, die älter als {0, plural, one {# Tag} other "
                               "{# Tage}} sind?}}";
    EXPECT_EQ(choosePluralForms(german, {"1", "2"}, "de"), "2 Gespräche löschen, die älter als 1 Tag sind?");
    EXPECT_EQ(choosePluralForms(german, {"30", "1"}, "de"), "1 Gespräch löschen, das älter als 30 Tage ist?");
    // Text around blocks, and placeholders, stay for the filling after.
    EXPECT_EQ(choosePluralForms("%1$@: {1, plural, one {# item} other {# items}}", {"Box", "1"}, "en"), "%1$@: 1 item");
}

TEST(PluralForms, WhatCannotBeReadStaysOrTakesOther)
{
    // No blocks, or braces that are not a plural block: unchanged.
    EXPECT_EQ(choosePluralForms("%@ 句", {"1"}, "en"), "%@ 句");
    EXPECT_EQ(choosePluralForms("a {b} c # plural", {"1"}, "en"), "a {b} c # plural");
    // Without "other", or never closed: left as written.
    EXPECT_EQ(choosePluralForms("{0, plural, one {x}}", {"1"}, "en"), "{0, plural, one {x}}");
    EXPECT_EQ(choosePluralForms("{0, plural, one {x} other {y}", {"1"}, "en"), "{0, plural, one {x} other {y}");
    // Not a number, or no such argument: other, with the text as given.
    EXPECT_EQ(choosePluralForms(sentences, {"many"}, "en"), "many sentences");
    EXPECT_EQ(choosePluralForms(sentences, {}, "en"), "# sentences");
    // An unknown locale still chooses by the root rules.
    EXPECT_EQ(choosePluralForms(sentences, {"2"}, "xx"), "2 sentences");

    // Blocks inside blocks are read 16 deep; deeper ones stay as written
    // rather than recursing once per level of a table file.
    auto nested = [](std::size_t depth) {
        std::string text;
        for (std::size_t i = 0; i < depth; ++i)
            text += "{0, plural, other {";
        return text + "x" + std::string(2 * depth, '}');
    };
    EXPECT_EQ(choosePluralForms(nested(16), {"1"}, "en"), "x");
    EXPECT_EQ(choosePluralForms(nested(17), {"1"}, "en"), nested(1));
    EXPECT_EQ(choosePluralForms(nested(100'000), {"1"}, "en"), nested(100'000 - 16));
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every value of the shipped tables that words a count in plural forms reads
// whole in its language for every kind of count, with no block left over.
TEST(PluralForms, EveryShippedPluralTextReadsWhole)
{
    int blocks = 0;
    for (const auto& language : InterfaceLanguage::supported()) {
        const fs::path folder = fs::path(PARLARO_SOURCE_DIR) / "resources" / "i18n" / language.code;
        for (const auto& file : fs::directory_iterator(folder)) {
            auto json = nlohmann::json::parse(readFile(file.path()));
            for (auto& [key, value] : json.items()) {
                const std::string text = value.get<std::string>();
                if (text.find("plural") == std::string::npos)
                    continue;
                ++blocks;
                for (const char* count : {"0", "1", "2", "3", "5", "11", "22", "101"}) {
                    const std::string chosen = choosePluralForms(text, {count, count}, language.code);
                    EXPECT_EQ(chosen.find('{'), std::string::npos) << language.code << ": " << text;
                    EXPECT_EQ(chosen.find('#'), std::string::npos) << language.code << ": " << text;
                }
            }
        }
    }
    EXPECT_GE(blocks, 3 * 17);
}

}  // namespace
}  // namespace parlaro
