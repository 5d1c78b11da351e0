#include "platform/linux/EnvironmentPreferredLanguages.h"
#include "platform/sim/SimPreferredLanguages.h"

#include <gtest/gtest.h>

#include <map>

namespace parlaro {
namespace {

using Languages = std::vector<std::string>;

Languages fromEnvironment(std::map<std::string, std::string> values)
{
    sys::EnvironmentPreferredLanguages languages([values](const std::string& name) -> std::optional<std::string> {
        auto found = values.find(name);
        return found == values.end() ? std::nullopt : std::optional(found->second);
    });
    return languages.preferredLanguages();
}

TEST(EnvironmentPreferredLanguages, LanguageListThenMessagesLocale)
{
    EXPECT_EQ(fromEnvironment({{"LANGUAGE", "zh_CN:en_US:C:en_US"}, {"LANG", "fr_FR.UTF-8"}}),
              (Languages{"zh-CN", "en-US", "fr-FR"}));
    // LC_ALL outranks LC_MESSAGES, which outranks LANG; only one of them counts.
    EXPECT_EQ(fromEnvironment({{"LC_ALL", "de_DE.UTF-8"}, {"LC_MESSAGES", "ja_JP"}, {"LANG", "ko_KR"}}),
              (Languages{"de-DE"}));
    EXPECT_EQ(fromEnvironment({{"LC_ALL", ""}, {"LC_MESSAGES", "ja_JP"}, {"LANG", "ko_KR"}}), (Languages{"ja-JP"}));
    EXPECT_EQ(fromEnvironment({{"LC_ALL", "C"}, {"LANG", "ko_KR"}}), Languages{});
    EXPECT_EQ(fromEnvironment({{"LANG", "POSIX"}}), Languages{});
    EXPECT_EQ(fromEnvironment({{"LANGUAGE", "pt_BR::es"}, {"LANG", "pt_BR.UTF-8"}}), (Languages{"pt-BR", "es"}));
    EXPECT_EQ(fromEnvironment({}), Languages{});
}

TEST(EnvironmentPreferredLanguages, PosixNamesBecomeLanguageTags)
{
    using sys::EnvironmentPreferredLanguages;
    EXPECT_EQ(EnvironmentPreferredLanguages::languageTag("zh_CN.UTF-8"), "zh-CN");
    EXPECT_EQ(EnvironmentPreferredLanguages::languageTag("en"), "en");
    EXPECT_EQ(EnvironmentPreferredLanguages::languageTag("EN_us"), "en-US");
    EXPECT_EQ(EnvironmentPreferredLanguages::languageTag("sr_RS@latin"), "sr-Latn-RS");
    EXPECT_EQ(EnvironmentPreferredLanguages::languageTag("de_DE@euro"), "de-DE");
    EXPECT_EQ(EnvironmentPreferredLanguages::languageTag("es_419.utf8"), "es-419");
    EXPECT_EQ(EnvironmentPreferredLanguages::languageTag("zh-TW"), "zh-TW");
    for (const char* rejected : {"C", "C.UTF-8", "POSIX", "", "1234", "e", "en_USA", "../etc"}) {
        EXPECT_EQ(EnvironmentPreferredLanguages::languageTag(rejected), std::nullopt) << rejected;
    }
}

TEST(SimPreferredLanguages, ReturnsWhatTheTestSets)
{
    sim::SimPreferredLanguages languages({"ja-JP"});
    EXPECT_EQ(languages.preferredLanguages(), Languages{"ja-JP"});
    languages.setPreferredLanguages({"zh-Hans-CN", "en-US"});
    EXPECT_EQ(languages.preferredLanguages(), (Languages{"zh-Hans-CN", "en-US"}));
}

}  // namespace
}  // namespace parlaro
