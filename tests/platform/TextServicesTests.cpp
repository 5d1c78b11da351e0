#include "platform/linux/icu/IcuTextServices.h"
#include "platform/sim/SimTextServices.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace parlaro {
namespace {

using Tags = std::vector<std::string>;

const Tags interfaceCodes = {"zh-Hans", "zh-Hant", "en", "ja", "ko", "es", "de", "fr", "pt-BR",
                             "it",      "tr",      "nl", "pl", "vi", "th", "id", "ar"};

TEST(IcuTextServices, LikelySubtagsAndDisplayNames)
{
    sys::IcuTextServices text;
    EXPECT_EQ(text.maximalIdentifier("zh-Hans"), "zh-Hans-CN");
    EXPECT_EQ(text.maximalIdentifier("en"), "en-Latn-US");
    EXPECT_EQ(text.maximalIdentifier("zh_TW"), "zh-Hant-TW");
    EXPECT_EQ(text.maximalIdentifier("!!"), "!!");

    EXPECT_EQ(text.displayName("ja", "zh-Hans"), "日语");
    EXPECT_EQ(text.displayName("zh-Hans", "zh-Hans"), "中文（简体）");
    EXPECT_EQ(text.displayName("zh-Hant", "zh-Hant"), "中文（繁體）");
    EXPECT_EQ(text.displayName("zh-Hant", "en"), "Chinese (Traditional)");
    EXPECT_EQ(text.displayName("pt_BR", "en"), "Portuguese (Brazil)");
    EXPECT_EQ(text.displayName("en-US", "ja"), "英語 (アメリカ合衆国)");
}

TEST(IcuTextServices, ListsDirectionAndText)
{
    sys::IcuTextServices text;
    EXPECT_EQ(text.listFormat({"A", "B", "C"}, "en"), "A, B, and C");
    EXPECT_EQ(text.listFormat({"A", "B", "C"}, "zh-Hans"), "A、B和C");
    EXPECT_EQ(text.listFormat({"A", "B"}, "de"), "A und B");
    EXPECT_EQ(text.listFormat({}, "en"), "");

    EXPECT_EQ(text.characterDirection("ar"), CharacterDirection::rightToLeft);
    EXPECT_EQ(text.characterDirection("ar-EG"), CharacterDirection::rightToLeft);
    EXPECT_EQ(text.characterDirection("he"), CharacterDirection::rightToLeft);
    EXPECT_EQ(text.characterDirection("zh-Hans"), CharacterDirection::leftToRight);
    EXPECT_EQ(text.characterDirection(""), CharacterDirection::leftToRight);

    EXPECT_EQ(text.transliterate("漢語 國家", "Hant-Hans"), "汉语 国家");
    EXPECT_EQ(text.transliterate("汉语", "Hant-Hans"), "汉语");
    EXPECT_THROW(text.transliterate("x", "No-Such-Transform"), std::invalid_argument);

    EXPECT_EQ(text.graphemeCount(""), 0u);
    EXPECT_EQ(text.graphemeCount("汉语"), 2u);
    EXPECT_EQ(text.graphemeCount("e\xCC\x81"), 1u);                                        // e + combining acute
    EXPECT_EQ(text.graphemeCount("\xF0\x9F\x87\xA8\xF0\x9F\x87\xB3"), 1u);                 // a flag
    EXPECT_EQ(text.graphemeCount("\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB ok"), 4u);  // ZWJ sequence

    EXPECT_EQ(text.lowercase("HELLO Ä", "en"), "hello ä");
    EXPECT_EQ(text.lowercase("I", "tr"), "ı");
    EXPECT_EQ(text.lowercase("I", "en"), "i");
}

TEST(TextServices, PreferredLocalizationsFollowLanguageScriptAndRegion)
{
    sys::IcuTextServices text;
    auto pick = [&](const Tags& preferences, const Tags& available = interfaceCodes) {
        return text.preferredLocalizations(available, preferences);
    };
    EXPECT_EQ(pick({"zh-CN"}), Tags{"zh-Hans"});
    EXPECT_EQ(pick({"zh-Hans-CN"}), Tags{"zh-Hans"});
    EXPECT_EQ(pick({"zh"}), Tags{"zh-Hans"});
    EXPECT_EQ(pick({"zh-SG"}), Tags{"zh-Hans"});
    EXPECT_EQ(pick({"zh-TW"}), Tags{"zh-Hant"});
    EXPECT_EQ(pick({"zh-HK"}), Tags{"zh-Hant"});
    EXPECT_EQ(pick({"zh_TW"}), Tags{"zh-Hant"});
    EXPECT_EQ(pick({"ZH-hant"}), Tags{"zh-Hant"});
    EXPECT_EQ(pick({"en-GB"}), Tags{"en"});
    EXPECT_EQ(pick({"pt-PT"}), Tags{"pt-BR"});
    EXPECT_EQ(pick({"pt"}), Tags{"pt-BR"});
    EXPECT_EQ(pick({"in"}), Tags{"id"});
    EXPECT_EQ(pick({"ar-SA"}), Tags{"ar"});

    // The first preference that matches anything decides.
    EXPECT_EQ(pick({"xx", "sw", "fr-CA", "de"}), Tags{"fr"});
    EXPECT_EQ(pick({"zh-TW", "en"}, {"zh-Hans", "en"}), Tags{"en"});
    EXPECT_EQ(pick({"sr-Latn"}, {"sr"}), Tags{});
    EXPECT_EQ(pick({"xx", "sw"}), Tags{});
    EXPECT_EQ(pick({}), Tags{});

    // Among same-language candidates: the named region, then no region,
    // then the language's home region, then the first listed.
    EXPECT_EQ(pick({"pt-PT"}, {"pt-BR", "pt", "pt-AO"}), Tags{"pt"});
    EXPECT_EQ(pick({"pt-PT"}, {"pt-AO", "pt-BR"}), Tags{"pt-BR"});
    EXPECT_EQ(pick({"en"}, {"en-GB", "en-US"}), Tags{"en-US"});
    EXPECT_EQ(pick({"en-AU"}, {"en-GB", "en-IN"}), Tags{"en-GB"});
}

TEST(SimTextServices, PinnedAnswersOverrideIcu)
{
    sim::SimTextServices text;
    EXPECT_EQ(text.displayName("ja", "zh-Hans"), "日语");
    text.pinDisplayName("ja", "zh-Hans", "日本语");
    EXPECT_EQ(text.displayName("ja", "zh-Hans"), "日本语");
    EXPECT_EQ(text.displayName("ja", "en"), "Japanese");

    EXPECT_EQ(text.preferredLocalizations(interfaceCodes, {"yue"}), Tags{});
    text.pinMaximalIdentifier("yue", "zh-Hant-HK");
    EXPECT_EQ(text.maximalIdentifier("yue"), "zh-Hant-HK");
    EXPECT_EQ(text.preferredLocalizations(interfaceCodes, {"yue"}), Tags{"zh-Hant"});

    EXPECT_EQ(text.transliterate("漢語", "Hant-Hans"), "汉语");
    EXPECT_EQ(text.graphemeCount("汉语"), 2u);
}

}  // namespace
}  // namespace parlaro
