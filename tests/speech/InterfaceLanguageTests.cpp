#include "platform/Platform.h"
#include "platform/linux/FileResourceBundles.h"
#include "platform/linux/JsonFileSettingsStore.h"
#include "platform/sim/SimPlatform.h"
#include "platform/sim/SimPreferredLanguages.h"
#include "platform/sim/SimResourceBundles.h"
#include "platform/sim/SimTextServices.h"
#include "speech/CallLanguage.h"
#include "speech/InterfaceLanguage.h"
#include "speech/KoreanParticles.h"
#include "speech/Localization.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <optional>

using namespace parlaro;

namespace {

struct InterfaceLanguageTest : ::testing::Test {
    sim::SimPlatform platform;
};

}  // namespace

TEST_F(InterfaceLanguageTest, TableOfSeventeenLanguagesInMenuOrder)
{
    const auto& table = InterfaceLanguage::supported();
    ASSERT_EQ(table.size(), 17u);
    EXPECT_EQ(table.front().code, "zh-Hans");
    EXPECT_EQ(table.front().nativeName, "简体中文");
    EXPECT_EQ(table[8].code, "pt-BR");
    EXPECT_EQ(table[8].nativeName, "Português (Brasil)");
    EXPECT_EQ(table.back().code, "ar");
    EXPECT_EQ(table.back().nativeName, "العربية");
}

TEST_F(InterfaceLanguageTest, CurrentFollowsStoredChoiceThenPreferencesThenEnglish)
{
    EXPECT_EQ(InterfaceLanguage::current(), "zh-Hans") << "the system prefers zh-Hans-CN";

    platform.preferredLanguages.setPreferredLanguages({"ja-JP", "en-US"});
    EXPECT_EQ(InterfaceLanguage::current(), "ja");

    platform.defaults.set("parlaroPreferredLanguages", DefaultsStringList{"de"});
    EXPECT_EQ(InterfaceLanguage::current(), "de") << "the application's own list comes before the system's";

    platform.defaults.set("interfaceLanguage", std::string(""));
    EXPECT_EQ(InterfaceLanguage::current(), "de") << "empty follows the preferences";

    platform.defaults.set("interfaceLanguage", std::string("ko"));
    EXPECT_EQ(InterfaceLanguage::current(), "ko");

    platform.defaults.remove("interfaceLanguage");
    platform.defaults.remove("parlaroPreferredLanguages");
    platform.preferredLanguages.setPreferredLanguages({"sv-SE"});
    EXPECT_EQ(InterfaceLanguage::current(), "en") << "no localization matches";
}

TEST_F(InterfaceLanguageTest, SetStoresChoiceMirrorsListAndAlwaysBumpsRevision)
{
    // A revision of the test's own starts at zero whatever ran before; the
    // program's stays untouched and is back after the scope.
    auto& program = InterfaceLanguage::Revision::shared();
    const auto programStart = program.value.get();
    auto own = std::make_unique<InterfaceLanguage::Revision>();
    std::optional<InterfaceLanguage::Revision::Scope> scope(std::in_place, *own);
    EXPECT_EQ(&InterfaceLanguage::Revision::shared(), own.get());
    auto& revision = own->value;
    int notifications = 0;
    auto subscription = revision.subscribe([&] { ++notifications; });
    const auto start = revision.get();
    EXPECT_EQ(start, 0);

    InterfaceLanguage::set("fr");
    EXPECT_EQ(platform.defaults.get<std::string>("interfaceLanguage"), "fr");
    EXPECT_EQ(platform.defaults.get<DefaultsStringList>("parlaroPreferredLanguages"), DefaultsStringList{"fr"});
    InterfaceLanguage::set("fr");
    EXPECT_EQ(revision.get(), start + 2) << "setting the language in force still re-renders once";

    InterfaceLanguage::set("xx");
    EXPECT_EQ(platform.defaults.get<std::string>("interfaceLanguage"), "") << "an unknown code follows the system";
    EXPECT_FALSE(platform.defaults.has("parlaroPreferredLanguages"));
    InterfaceLanguage::set("");
    EXPECT_EQ(platform.defaults.get<std::string>("interfaceLanguage"), "");
    EXPECT_EQ(notifications, 4);
    scope.reset();
    EXPECT_EQ(&InterfaceLanguage::Revision::shared(), &program);
    EXPECT_EQ(program.value.get(), programStart);
}

namespace {

// Refuses one write, the one after the given number, and takes the rest.
class RefusingStore : public SettingsStore {
public:
    RefusingStore(SettingsStore& inner, int accepted) : inner_(inner), accepted_(accepted) {}
    std::optional<DefaultsValue> value(std::string_view key) const override { return inner_.value(key); }
    void set(std::string_view key, DefaultsValue value) override
    {
        admit();
        inner_.set(key, std::move(value));
    }
    void remove(std::string_view key) override
    {
        admit();
        inner_.remove(key);
    }
    bool has(std::string_view key) const override { return inner_.has(key); }

private:
    void admit()
    {
        if (accepted_-- == 0)
            throw DomainError("SettingsStore", 1, "disk full");
    }
    SettingsStore& inner_;
    int accepted_;
};

}  // namespace

TEST_F(InterfaceLanguageTest, AWriteRefusedPartWayLeavesTheEarlierChoiceWhole)
{
    platform.defaults.set("interfaceLanguage", std::string("ja"));
    platform.defaults.set("parlaroPreferredLanguages", DefaultsStringList{"ja"});
    platform.defaults.set("AppleLanguages", DefaultsStringList{"ko"});
    const auto before = platform.defaults.snapshot();

    // Refused at the second write or at the third, choosing a language or
    // the system's: every key is put back as it was, and the caller hears of
    // it.
    for (int accepted : {1, 2}) {
        for (const char* code : {"de", ""}) {
            RefusingStore refusing(platform.defaults, accepted);
            PlatformScope scope({&refusing, &platform.preferredLanguages, &platform.text, &platform.bundles});
            EXPECT_THROW(InterfaceLanguage::set(code), DomainError) << accepted << " '" << code << "'";
            EXPECT_EQ(platform.defaults.snapshot(), before) << accepted << " '" << code << "'";
            EXPECT_EQ(InterfaceLanguage::current(), "ja");
        }
    }

    // Keys that were absent are absent again.
    platform.defaults.remove("interfaceLanguage");
    platform.defaults.remove("parlaroPreferredLanguages");
    RefusingStore refusing(platform.defaults, 1);
    PlatformScope scope({&refusing, &platform.preferredLanguages, &platform.text, &platform.bundles});
    EXPECT_THROW(InterfaceLanguage::set("fr"), DomainError);
    EXPECT_FALSE(platform.defaults.has("interfaceLanguage"));
    EXPECT_FALSE(platform.defaults.has("parlaroPreferredLanguages"));
}

TEST_F(InterfaceLanguageTest, HandWrittenValuesAreUsedButOnlyPlainTablesOpen)
{
    platform.bundles.setTable("en", {{"好", "OK"}});
    platform.defaults.set("interfaceLanguage", std::string("en-XX"));
    EXPECT_EQ(InterfaceLanguage::current(), "en-XX") << "a stored value is used as it is";
    EXPECT_EQ(localized("好"), "好") << "no table of that name: the main table's keys";

    platform.defaults.set("interfaceLanguage", std::string("../en"));
    EXPECT_EQ(InterfaceLanguage::current(), "../en");
    EXPECT_EQ(localized("好"), "好") << "a path never opens a table";

    platform.defaults.set("interfaceLanguage", std::string("en"));
    EXPECT_EQ(localized("好"), "OK");
    EXPECT_EQ(localized("没有这个键"), "没有这个键");
}

TEST_F(InterfaceLanguageTest, LayoutDirectionAndListJoining)
{
    InterfaceLanguage::set("ar");
    EXPECT_EQ(InterfaceLanguage::layoutDirection(), LayoutDirection::rightToLeft);
    InterfaceLanguage::set("en");
    EXPECT_EQ(InterfaceLanguage::layoutDirection(), LayoutDirection::leftToRight);
    EXPECT_EQ(InterfaceLanguage::list({"A", "B", "C"}), "A, B, and C");
    InterfaceLanguage::set("zh-Hans");
    EXPECT_EQ(InterfaceLanguage::list({"甲", "乙"}), "甲和乙");
    EXPECT_EQ(InterfaceLanguage::list({}), "");
}

TEST_F(InterfaceLanguageTest, SequentialFilling)
{
    EXPECT_EQ(localized("苹果翻译不支持%@和%@互译", "英语"), "苹果翻译不支持英语和%@互译");
    EXPECT_EQ(localized("苹果翻译不支持%@和%@互译", "英语", "日语", "韩语"), "苹果翻译不支持英语和日语互译");
    EXPECT_EQ(localized("%@失败（%@）", "启动", -10851), "启动失败（-10851）");
    EXPECT_EQ(localized("100%% %d %@"), "100%% %d %@") << "nothing else is interpreted";
    // Text an argument brings in is never taken for a placeholder.
    EXPECT_EQ(localized("%@ and %@", "%@", "x"), "%@ and x");
    EXPECT_EQ(localized("%@ / %@", "%2$@", "y"), "%2$@ / y");
    EXPECT_EQ(localized("比例 %@", 0.5), "比例 0.5");
}

TEST_F(InterfaceLanguageTest, PositionalFillingDecidedOnTheTranslatedFormat)
{
    platform.bundles.setTable("en", {{"%@和%@", "%2$@ and %1$@"}, {"只有%@", "only %2$@"}});
    InterfaceLanguage::set("en");
    EXPECT_EQ(localized("%@和%@", "A", "B"), "B and A") << "a translation may number what the key does not";
    EXPECT_EQ(localized("只有%@", "A", "B"), "only %2$@") << "without \"%1$@\" filling is sequential";
    platform.bundles.setTable("en", {{"%@和%@", "%1$@ and %2$@, again %1$@"}, {"混合%@", "%1$@ mixed %@"}});
    EXPECT_EQ(localized("%@和%@", "A", "B"), "A and B, again A");
    EXPECT_EQ(localized("%@和%@", "%2$@", "B"), "%2$@ and B, again %2$@") << "one pass over the format";
    EXPECT_EQ(localized("混合%@", "A"), "A mixed %@") << "a bare %@ stays in positional mode";
    EXPECT_EQ(fillPlaceholders("%1$@ %3$@", {"a"}), "a %3$@");
    EXPECT_EQ(fillPlaceholders("%1$@", {}), "%1$@");
}

// A Korean table hedges the particle after a name ("%@을(를)"); the name is
// known when it is filled in, and its last sound decides the particle.
TEST_F(InterfaceLanguageTest, KoreanParticlesFollowTheLastSoundOfWhatIsFilledIn)
{
    const sys::FileResourceBundles files(std::filesystem::path(PARLARO_SOURCE_DIR) / "resources");
    platform.bundles.setTable("ko", *files.openTable("ko"));
    InterfaceLanguage::set("ko");
    const auto name = [](const char* id) { return CallLanguage::find(id)->displayName(); };
    EXPECT_EQ(name("es"), "스페인어") << "the name as ICU gives it";
    EXPECT_EQ(localized("本机无法识别%@，对方说话时这里不会出现字幕", name("es")),
              "이 컴퓨터는 스페인어를 인식할 수 없어 상대방이 말해도 여기에 자막이 표시되지 않습니다");
    EXPECT_EQ(localized("不支持从%1$@翻译到%2$@", name("en"), name("zh-Hant")),
              "영어에서 " + name("zh-Hant") + "로의 번역은 지원되지 않습니다");
    EXPECT_EQ(localized("正在用%@播放给对方…", "포르투갈어(브라질)"), "포르투갈어(브라질)로 상대방에게 재생하는 중…")
        << "an aside in brackets is looked past";
    EXPECT_EQ(localized("系统麦克风上次未能恢复，现已改回%@", "USB 마이크"),
              "지난번에 시스템 마이크가 복원되지 않았습니다. 지금 USB 마이크로 되돌렸습니다");
    EXPECT_EQ(localized("系统麦克风上次未能恢复，现已改回%@", "내장 오디오 입력"),
              "지난번에 시스템 마이크가 복원되지 않았습니다. 지금 내장 오디오 입력으로 되돌렸습니다");
    EXPECT_EQ(localized("系统麦克风上次未能恢复，现已改回%@", "Headset 스테레오 채널"),
              "지난번에 시스템 마이크가 복원되지 않았습니다. 지금 Headset 스테레오 채널로 되돌렸습니다")
        << "ㄹ takes the vowel's form";
    EXPECT_EQ(localized("「%@」已被系统或其他软件占用，请换一个", "F9"),
              "‘F9’는 시스템이나 다른 앱이 사용 중입니다. 다른 키를 고르세요")
        << "9 is read 구";
    EXPECT_EQ(localized("没有找到包含「%@」的记录。", "회의실"), "‘회의실’이 포함된 대화가 없습니다.");
    EXPECT_EQ(localized("有新版本 %@ 可用（当前版本 %@）。", "1.4.3", "1.4.2"),
              "새 버전 1.4.3을 사용할 수 있습니다(현재 버전 1.4.2).");
    // Where the last sound cannot be told, the hedge stays.
    EXPECT_EQ(localized("有新版本 %@ 可用（当前版本 %@）。", "2.0", "1.9"),
              "새 버전 2.0을(를) 사용할 수 있습니다(현재 버전 1.9).");
    // A hedge apart from its placeholder, or after one without an argument,
    // stays.
    EXPECT_EQ(chooseKoreanParticles("%@ 이(가) %@", {"영어"}), "%@ 이(가) %@");
    EXPECT_EQ(chooseKoreanParticles("%2$@을(를) %1$@은(는)", {"영어"}), "%2$@을(를) %1$@는");

    // Every hedge of the Korean tables stands where a filled-in name
    // decides it: with the 20 call languages' names none is left.
    for (const auto& [key, value] : *files.openTable("ko")) {
        for (const CallLanguage& language : CallLanguage::all()) {
            const std::vector<std::string> names(4, language.displayName());
            const std::string chosen = chooseKoreanParticles(value, names);
            for (const char* hedge : {"(를)", "(을)", "(가)", "(이)", "(는)", "(은)", "(와)", "(과)", "(으)"})
                EXPECT_EQ(chosen.find(hedge), std::string::npos) << key << " -> " << chosen;
        }
    }
}

// A settings file written by an earlier version keeps its language: the list
// under the borrowed key is read, moved to the program's own key in the
// file, and never read from there again.
TEST(InterfaceLanguageFile, TheEarlierKeyIsReadOnceAndMovedInTheRealFile)
{
    test::TempDirectory home;
    home.write("settings.json", R"({"AppleLanguages": ["de"], "onboardingDone": true})");
    sim::SimPreferredLanguages system{{"fr-FR"}};
    sim::SimTextServices text;
    sim::SimResourceBundles bundles({{"de", {}}, {"en", {}}, {"es", {}}, {"fr", {}}, {"ja", {}}});
    {
        sys::JsonFileSettingsStore store(home / "settings.json");
        PlatformScope scope(PlatformServices{&store, &system, &text, &bundles});
        EXPECT_EQ(InterfaceLanguage::current(), "de");
        EXPECT_EQ(InterfaceLanguage::current(), "de") << "and again, from the new key";
    }
    const auto saved = nlohmann::json::parse(home.read("settings.json"));
    EXPECT_EQ(saved.value("parlaroPreferredLanguages", nlohmann::json()), nlohmann::json::array({"de"}));
    EXPECT_FALSE(saved.contains("AppleLanguages"));
    EXPECT_EQ(saved.value("onboardingDone", false), true) << "nothing else changes";

    // Moved too where the chosen language decides.
    home.write("settings.json", R"({"AppleLanguages": ["de"], "interfaceLanguage": "de"})");
    {
        sys::JsonFileSettingsStore store(home / "settings.json");
        PlatformScope scope(PlatformServices{&store, &system, &text, &bundles});
        EXPECT_EQ(InterfaceLanguage::current(), "de");
    }
    EXPECT_EQ(nlohmann::json::parse(home.read("settings.json")),
              nlohmann::json::parse(R"({"interfaceLanguage": "de", "parlaroPreferredLanguages": ["de"]})"));

    // The old key written again by an old copy no longer counts once the new
    // one is there, and a choice made now clears it.
    home.write("settings.json", R"({"parlaroPreferredLanguages": ["de"], "AppleLanguages": ["ja"]})");
    sys::JsonFileSettingsStore store(home / "settings.json");
    PlatformScope scope(PlatformServices{&store, &system, &text, &bundles});
    EXPECT_EQ(InterfaceLanguage::current(), "de");
    InterfaceLanguage::set("es");
    EXPECT_EQ(InterfaceLanguage::current(), "es");
    const auto chosen = nlohmann::json::parse(home.read("settings.json"));
    EXPECT_EQ(chosen.value("parlaroPreferredLanguages", nlohmann::json()), nlohmann::json::array({"es"}));
    EXPECT_FALSE(chosen.contains("AppleLanguages"));
}
