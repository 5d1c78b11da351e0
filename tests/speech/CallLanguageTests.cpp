#include "platform/sim/SimPlatform.h"
#include "runtime/ManualRuntime.h"
#include "speech/CallLanguage.h"
#include "speech/InterfaceLanguage.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unordered_set>

namespace parlaro {
namespace {

std::optional<std::string> matchedId(const std::string& identifier)
{
    auto row = CallLanguage::matching(identifier);
    return row ? std::optional<std::string>(row->id) : std::nullopt;
}

std::pair<std::string, std::string> defaultPair(sim::SimPlatform& platform, std::vector<std::string> preferred)
{
    platform.preferredLanguages.setPreferredLanguages(std::move(preferred));
    auto [mine, theirs] = CallLanguage::systemDefault();
    return {mine.id, theirs.id};
}

TEST(CallLanguage, TableAndLookUp)
{
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    const auto& all = CallLanguage::all();
    std::vector<std::string> ids;
    for (const auto& row : all)
        ids.push_back(row.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"zh-Hans", "zh-Hant", "en", "ja", "ko", "de", "fr", "es", "it", "pt-BR",
                                             "ru",      "ar",      "th", "vi", "tr", "nl", "pl", "uk", "hi", "id"}));
    EXPECT_EQ(all.front(), CallLanguage::chinese());
    EXPECT_EQ(CallLanguage::chinese().speechLocale, "zh-CN");
    EXPECT_EQ(all[11].voiceLocales, (std::vector<std::string>{"ar-001", "ar"}));
    EXPECT_EQ(all[9].tag, "PT");

    EXPECT_EQ(CallLanguage::find("pt-BR")->sample, "Olá, esta é uma prévia da minha voz.");
    EXPECT_FALSE(CallLanguage::find("pt"));
    EXPECT_FALSE(CallLanguage::find("EN"));
    EXPECT_FALSE(CallLanguage::find(std::nullopt));

    std::unordered_set<CallLanguage> set(all.begin(), all.end());
    EXPECT_EQ(set.size(), 20u);
    EXPECT_EQ(set.count(*CallLanguage::find("ja")), 1u);
}

TEST(CallLanguage, MatchingSystemLanguages)
{
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    EXPECT_EQ(matchedId("zh-Hant"), "zh-Hant");
    EXPECT_EQ(matchedId("zh-HK"), "zh-Hant");
    EXPECT_EQ(matchedId("zh-MO"), "zh-Hant");
    EXPECT_EQ(matchedId("zh-Hans-TW"), "zh-Hant");
    EXPECT_EQ(matchedId("zh-Hant-CN"), "zh-Hant");
    EXPECT_EQ(matchedId("zh_TW"), "zh-Hant");
    EXPECT_EQ(matchedId("zh"), "zh-Hans");
    EXPECT_EQ(matchedId("zh-CN"), "zh-Hans");
    EXPECT_EQ(matchedId("zh-Hans-SG"), "zh-Hans");
    EXPECT_EQ(matchedId("pt-PT"), "pt-BR");
    EXPECT_EQ(matchedId("pt"), "pt-BR");
    EXPECT_EQ(matchedId("en-GB"), "en");
    EXPECT_EQ(matchedId("de-AT"), "de");
    EXPECT_EQ(matchedId("id-ID"), "id");
    EXPECT_EQ(matchedId("sv-SE"), std::nullopt);
    EXPECT_EQ(matchedId(""), std::nullopt);
    EXPECT_EQ(matchedId("!!"), std::nullopt);
    EXPECT_FALSE(CallLanguage::matching(std::nullopt));
}

TEST(CallLanguage, DefaultPairFromTheSystemLanguages)
{
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    using Pair = std::pair<std::string, std::string>;
    // Only the first entry is tried.
    EXPECT_EQ(defaultPair(platform, {"sv-SE", "de-DE"}), (Pair{"en", "es"}));
    EXPECT_EQ(defaultPair(platform, {"en-US"}), (Pair{"en", "es"}));
    EXPECT_EQ(defaultPair(platform, {"en-GB", "ja-JP"}), (Pair{"en", "es"}));
    EXPECT_EQ(defaultPair(platform, {"ja-JP"}), (Pair{"ja", "en"}));
    EXPECT_EQ(defaultPair(platform, {"zh-Hans-CN"}), (Pair{"zh-Hans", "en"}));
    EXPECT_EQ(defaultPair(platform, {"pt-PT", "en"}), (Pair{"pt-BR", "en"}));
    EXPECT_EQ(defaultPair(platform, {}), (Pair{"en", "es"}));

    // Choosing an interface language rewrites the application's own list;
    // what the user speaks still comes from the system-wide one.
    InterfaceLanguage::set("ja");
    EXPECT_EQ(defaultPair(platform, {"de-DE"}), (Pair{"de", "en"}));
}

TEST(CallLanguage, DisplayNamesFollowTheInterfaceLanguage)
{
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    InterfaceLanguage::set("zh-Hans");
    EXPECT_EQ(CallLanguage::find("ja")->displayName(), "日语");
    EXPECT_EQ(CallLanguage::chinese().displayName(), "中文");
    EXPECT_EQ(CallLanguage::find("pt-BR")->displayName(), "葡萄牙语");
    EXPECT_EQ(CallLanguage::find("zh-Hant")->displayName(), "中文（繁体）");

    const std::string badge = CallLanguage::find("ja")->tag;
    InterfaceLanguage::set("en");
    EXPECT_EQ(CallLanguage::find("ja")->displayName(), "Japanese");
    EXPECT_EQ(CallLanguage::chinese().displayName(), "Chinese");
    EXPECT_EQ(CallLanguage::find("pt-BR")->displayName(), "Portuguese");
    EXPECT_EQ(CallLanguage::find("zh-Hant")->displayName(), "Chinese (Traditional)");
    EXPECT_EQ(CallLanguage::find("ja")->tag, badge);

    // A name given as "name, qualifier" shows the qualifier in parentheses.
    platform.text.pinDisplayName("zh-Hant", "en", "Chinese, Traditional");
    EXPECT_EQ(CallLanguage::find("zh-Hant")->displayName(), "Chinese (Traditional)");
    platform.text.pinDisplayName("zh-Hant", "en", "Chinese, Traditional, Hong Kong");
    EXPECT_EQ(CallLanguage::find("zh-Hant")->displayName(), "Chinese (Traditional, Hong Kong)");

    // Without a name the id stands in.
    platform.text.pinDisplayName("pt", "en", "pt");
    EXPECT_EQ(CallLanguage::find("pt-BR")->displayName(), "pt-BR");
    platform.text.pinDisplayName("zh-Hant", "en", "");
    EXPECT_EQ(CallLanguage::find("zh-Hant")->displayName(), "zh-Hant");
}

// The badges are localized once, when the table is first built, so this runs
// in a fresh process of its own.
TEST(CallLanguageDeathTest, BadgesKeepTheInterfaceLanguageOfFirstUse)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            rt::ManualRuntime runtime;
            sim::SimPlatform platform;
            platform.bundles.setTable("en", {{"中", "ZH"}, {"繁", "ZHT"}, {"日", "JA"}, {"韩", "KO"}});
            InterfaceLanguage::set("en");
            const auto& all = CallLanguage::all();
            InterfaceLanguage::set("zh-Hans");
            std::fprintf(stderr, "[%s %s %s %s %s %s / %s]", all[0].tag.c_str(), all[1].tag.c_str(), all[2].tag.c_str(),
                         all[3].tag.c_str(), all[4].tag.c_str(), all[5].tag.c_str(),
                         CallLanguage::chinese().tag.c_str());
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "\\[ZH ZHT EN JA KO DE / ZH\\]");
}

TEST(CallLanguage, EveryInterfaceLanguageTranslatesTheBadges)
{
    const auto root = std::filesystem::path(PARLARO_SOURCE_DIR) / "resources" / "i18n";
    for (const char* code : {"zh-Hans", "zh-Hant", "en", "ja", "ko", "es", "de", "fr", "pt-BR", "it", "tr", "nl", "pl",
                             "vi", "th", "id", "ar"}) {
        std::ifstream file(root / code / "languages.json");
        const auto table = nlohmann::json::parse(file, nullptr, false);
        ASSERT_TRUE(table.is_object()) << code;
        for (const char* key : {"中", "繁", "日", "韩"}) {
            ASSERT_TRUE(table.contains(key) && table[key].is_string()) << code << " " << key;
            EXPECT_FALSE(table[key].get<std::string>().empty()) << code << " " << key;
        }
        if (std::string(code) == "zh-Hans") {
            for (const char* key : {"中", "繁", "日", "韩"})
                EXPECT_EQ(table[key], key);
        }
    }
}

}  // namespace
}  // namespace parlaro
