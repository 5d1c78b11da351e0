#include "history/ConversationHistory.h"
#include "history/HistoryJson.h"
#include "history/HistoryPrinting.h"
#include "platform/sim/SimPlatform.h"
#include "runtime/ManualRuntime.h"
#include "runtime/UuidSource.h"
#include "speech/InterfaceLanguage.h"

#include <gtest/gtest.h>

#include <random>

namespace parlaro {
namespace {

using Side = ConversationEntry::Side;
using nlohmann::json;

rt::Uuid uuid(const char* text)
{
    return *rt::Uuid::parse(text);
}

ConversationEntry entry(Side side, std::string original, double time, std::optional<std::string> originalLanguage = {},
                        std::optional<std::string> translatedLanguage = {}, std::string translated = "")
{
    return ConversationEntry{.id = rt::Uuid::random(),
                             .side = side,
                             .original = std::move(original),
                             .translated = std::move(translated),
                             .time = rt::Date{time},
                             .originalLanguage = std::move(originalLanguage),
                             .translatedLanguage = std::move(translatedLanguage)};
}

std::string repeat(const std::string& piece, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

TEST(ConversationRecords, NewEntriesAndSessionsGetFreshIdsAndTheCurrentTime)
{
    rt::ManualRuntime runtime;
    runtime.clock().setDate(rt::Date{800'000'000.5});
    ConversationEntry a{.side = Side::me, .original = "你好"};
    ConversationEntry b{.side = Side::me, .original = "你好"};
    EXPECT_NE(a.id, b.id);
    EXPECT_EQ(a.time, rt::Date{800'000'000.5});
    EXPECT_NE(ConversationSession{}.id, ConversationSession{}.id);

    ConversationSession empty;
    EXPECT_EQ(empty.started().sinceReferenceDate, -63114076800.0);
    EXPECT_EQ(empty.updated().sinceReferenceDate, -63114076800.0);
}

TEST(ConversationRecords, EveryFieldSurvivesJsonExactly)
{
    const ConversationEntry full{.id = uuid("0f8fad5b-d9cb-469f-a165-70867728950e"),
                                 .side = Side::me,
                                 .original = "他说：\"你好, 世界\"\n第二行 😀",
                                 .translated = "He said: \"hello, world\"\r\nline two",
                                 .time = rt::Date{786'543'210.123456789},
                                 .originalLanguage = "zh-Hans",
                                 .translatedLanguage = "en"};
    const ConversationEntry bare{.id = uuid("7C9E6679-7425-40DE-944B-E07FC1F90AE7"),
                                 .side = Side::them,
                                 .original = "",
                                 .translated = "",
                                 .time = rt::Date{-0.000001},
                                 .originalLanguage = std::nullopt,
                                 .translatedLanguage = std::nullopt};
    const ConversationSession session{.id = uuid("A3BB189E-8BF9-3888-9912-ACE4E6543002"), .entries = {full, bare}};

    const std::string text = HistoryJson::encode(session);
    auto decoded = HistoryJson::decodeSession(text);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, session);

    // Compact, upper-case identifiers, absent optionals left out.
    EXPECT_EQ(text.rfind("{\"entries\":[{", 0), 0u);
    EXPECT_EQ(text.find("\n"), std::string::npos);
    EXPECT_EQ(text.find("\": "), std::string::npos);
    EXPECT_NE(text.find("\"id\":\"0F8FAD5B-D9CB-469F-A165-70867728950E\""), std::string::npos);
    EXPECT_NE(text.find("\"side\":\"me\""), std::string::npos);
    const json bareJson = HistoryJson::toJson(bare);
    EXPECT_FALSE(bareJson.contains("originalLanguage"));
    EXPECT_FALSE(bareJson.contains("translatedLanguage"));
    EXPECT_EQ(bareJson.size(), 5u);

    const ConversationSummary summary{.id = session.id,
                                      .started = rt::Date{1.0 / 3.0},
                                      .updated = rt::Date{786'543'210.987654321},
                                      .count = 9'007'199'254'740'993,
                                      .theirLanguage = "en",
                                      .myLanguage = "zh-Hans",
                                      .preview = "你好",
                                      .fileDate = rt::Date{786'543'211.000000119}};
    auto summaries = HistoryJson::decodeSummaries(HistoryJson::encode(std::vector{summary, summary}));
    ASSERT_TRUE(summaries);
    EXPECT_EQ(*summaries, (std::vector{summary, summary}));

    // A stray byte that is not UTF-8 costs that character, not the session.
    ConversationSession stray{.id = session.id, .entries = {bare}};
    stray.entries[0].original = "ok \xFF end";
    auto repaired = HistoryJson::decodeSession(HistoryJson::encode(stray));
    ASSERT_TRUE(repaired);
    EXPECT_EQ(repaired->entries[0].original, "ok \xEF\xBF\xBD end");

    // Any double date reads back as the same double.
    std::mt19937_64 random(12);
    std::uniform_real_distribution<double> dates(-1e9, 2e9);
    for (int i = 0; i < 2000; ++i) {
        ConversationSummary row = summary;
        row.fileDate = rt::Date{dates(random)};
        auto back = HistoryJson::decodeSummaries(HistoryJson::encode(std::vector{row}));
        ASSERT_TRUE(back);
        ASSERT_EQ(back->front().fileDate->sinceReferenceDate, row.fileDate->sinceReferenceDate);
    }
}

TEST(ConversationRecords, ReadingIsStrictAboutFieldsAndLenientAboutExtras)
{
    const json good = {{"id", "0f8fad5b-d9cb-469f-a165-70867728950e"},
                       {"side", "them"},
                       {"original", "hi"},
                       {"translated", "嗨"},
                       {"time", 5},
                       {"originalLanguage", nullptr},
                       {"futureField", {1, 2}}};
    const ConversationEntry read = HistoryJson::entryFromJson(good);
    EXPECT_EQ(read.id.toString(), "0F8FAD5B-D9CB-469F-A165-70867728950E");
    EXPECT_EQ(read.time, rt::Date{5.0});
    EXPECT_FALSE(read.originalLanguage);
    EXPECT_FALSE(HistoryJson::toJson(read).contains("futureField"));

    auto broken = [&](const char* key, json value) {
        json copy = good;
        if (value.is_discarded())
            copy.erase(key);
        else
            copy[key] = std::move(value);
        return copy;
    };
    const json missing(json::value_t::discarded);
    for (const json& bad :
         {broken("side", "Them"), broken("side", "ME"), broken("side", missing), broken("id", "not-a-uuid"),
          broken("id", missing), broken("original", 3), broken("translated", missing), broken("time", "5"),
          broken("time", missing), broken("translatedLanguage", 7)}) {
        EXPECT_THROW(HistoryJson::entryFromJson(bad), HistoryJson::DecodingError) << bad.dump();
        json session = {{"id", "A3BB189E-8BF9-3888-9912-ACE4E6543002"}, {"entries", {good, bad}}};
        EXPECT_FALSE(HistoryJson::decodeSession(session.dump())) << "one bad entry fails the whole session";
    }
    EXPECT_FALSE(ConversationEntry::sideFromRawValue("Them"));
    EXPECT_EQ(ConversationEntry::sideFromRawValue("me"), Side::me);
    EXPECT_FALSE(HistoryJson::decodeSession("{\"id\":\"A3BB189E-8BF9-3888-9912-ACE4E6543002\"}"));
    EXPECT_FALSE(HistoryJson::decodeSession("{not json"));
    EXPECT_FALSE(HistoryJson::decodeSummaries("{}"));

    json summary = {{"id", "A3BB189E-8BF9-3888-9912-ACE4E6543002"},
                    {"started", 1.5},
                    {"updated", 2.5},
                    {"count", 2},
                    {"preview", "p"},
                    {"fileDate", nullptr}};
    auto rows = HistoryJson::decodeSummaries(json::array({summary}).dump());
    ASSERT_TRUE(rows);
    EXPECT_FALSE(rows->front().fileDate);
    EXPECT_FALSE(HistoryJson::toJson(rows->front()).contains("fileDate"));
    summary.erase("fileDate");
    rows = HistoryJson::decodeSummaries(json::array({summary}).dump());
    ASSERT_TRUE(rows);
    EXPECT_FALSE(rows->front().fileDate);
    EXPECT_EQ(HistoryJson::encode(HistoryJson::toJson(rows->front())).find("fileDate"), std::string::npos);
    summary["count"] = "2";
    EXPECT_FALSE(HistoryJson::decodeSummaries(json::array({summary}).dump()));

    // A field nested deeper than anything written makes a file unreadable,
    // however harmless the rest.
    summary["count"] = 2;
    const std::string index = json::array({summary}).dump();
    const std::string session = json{{"id", "A3BB189E-8BF9-3888-9912-ACE4E6543002"}, {"entries", {good}}}.dump();
    auto withExtra = [](const std::string& text, std::size_t at, std::size_t depth) {
        return text.substr(0, at) + "\"x\":" + std::string(depth, '[') + std::string(depth, ']') + ","
            + text.substr(at);
    };
    EXPECT_TRUE(HistoryJson::decodeSummaries(withExtra(index, 2, 62)));
    EXPECT_TRUE(HistoryJson::decodeSession(withExtra(session, 1, 63)));
    for (std::size_t depth : {63u, 100'000u})
        EXPECT_FALSE(HistoryJson::decodeSummaries(withExtra(index, 2, depth))) << depth;
    for (std::size_t depth : {64u, 100'000u})
        EXPECT_FALSE(HistoryJson::decodeSession(withExtra(session, 1, depth))) << depth;
}

TEST(ConversationRecords, EqualityCoversEveryFieldAndTheEntryOrder)
{
    rt::ManualRuntime runtime;
    ConversationEntry a = entry(Side::them, "a", 1, "en", "zh-Hans");
    ConversationEntry b = a;
    EXPECT_EQ(a, b);
    b.translatedLanguage.reset();
    EXPECT_NE(a, b);
    ConversationEntry c = entry(Side::me, "c", 2);
    ConversationSession one{.id = uuid("A3BB189E-8BF9-3888-9912-ACE4E6543002"), .entries = {a, c}};
    ConversationSession two{.id = one.id, .entries = {c, a}};
    EXPECT_NE(one, two);
    ConversationSummary s = ConversationHistory::summary(one);
    ConversationSummary t = s;
    t.fileDate = rt::Date{3};
    EXPECT_NE(s, t);
}

TEST(ConversationRecords, SummaryTakesLanguagesFromEachSidesFirstEntry)
{
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;

    const ConversationSummary empty = ConversationHistory::summary(ConversationSession{});
    EXPECT_EQ(empty.started, ConversationSession::distantPast);
    EXPECT_EQ(empty.updated, ConversationSession::distantPast);
    EXPECT_EQ(empty.count, 0);
    EXPECT_EQ(empty.preview, "");
    EXPECT_FALSE(empty.theirLanguage);
    EXPECT_FALSE(empty.myLanguage);
    EXPECT_FALSE(empty.fileDate);

    ConversationSession onlyMe{
        .entries = {entry(Side::me, "我先说", 10, "zh-Hans", "ja"), entry(Side::me, "再说", 20, "ko", "fr")}};
    ConversationSummary mine = ConversationHistory::summary(onlyMe, rt::Date{99});
    EXPECT_EQ(mine.id, onlyMe.id);
    EXPECT_EQ(mine.started, rt::Date{10});
    EXPECT_EQ(mine.updated, rt::Date{20});
    EXPECT_EQ(mine.count, 2);
    EXPECT_EQ(mine.theirLanguage, "ja");
    EXPECT_EQ(mine.myLanguage, "zh-Hans");
    EXPECT_EQ(mine.fileDate, rt::Date{99});
    EXPECT_EQ(mine.preview, "我先说");

    ConversationSession onlyThem{.entries = {entry(Side::them, "Hello", 1, "en", "zh-Hans")}};
    EXPECT_EQ(ConversationHistory::summary(onlyThem).myLanguage, "zh-Hans");
    EXPECT_EQ(ConversationHistory::summary(onlyThem).theirLanguage, "en");

    // Their first entry lacks a language: take the translation language of my first.
    ConversationSession mixed{.entries = {entry(Side::them, "Hi", 1, std::nullopt, "zh-Hans"),
                                          entry(Side::me, "你好", 2, std::nullopt, "de")}};
    EXPECT_EQ(ConversationHistory::summary(mixed).theirLanguage, "de");
    EXPECT_EQ(ConversationHistory::summary(mixed).myLanguage, "zh-Hans");

    // Only their first entry counts, even when a later one knows more.
    ConversationSession later{
        .entries = {entry(Side::them, "Hi", 1, "en"), entry(Side::them, "Again", 2, "en", "zh-Hans")}};
    EXPECT_FALSE(ConversationHistory::summary(later).myLanguage);

    // Held as Spanish (mine) and English (theirs), swapped before I first
    // spoke: both first sentences are English. The pair is the last
    // sentence's, never one language twice.
    ConversationSession swapped{.entries = {entry(Side::them, "Hello", 1, "en", "es"),
                                            entry(Side::me, "Hi", 2, "en", "es"),
                                            entry(Side::me, "Bye", 3, "en", "en")}};
    EXPECT_EQ(ConversationHistory::summary(swapped).theirLanguage, "es");
    EXPECT_EQ(ConversationHistory::summary(swapped).myLanguage, "en");
    ConversationSession unknown{.entries = {entry(Side::them, "Hello", 1, "en"), entry(Side::me, "Hi", 2, "en")}};
    EXPECT_EQ(ConversationHistory::summary(unknown).theirLanguage, "en");
    EXPECT_FALSE(ConversationHistory::summary(unknown).myLanguage);
    // One written before that still reads as it was stored.
    const ConversationSummary doubled{.theirLanguage = "en", .myLanguage = "en"};
    auto stored = HistoryJson::decodeSummaries(HistoryJson::encode(std::vector{doubled}));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->front().theirLanguage, "en");
    EXPECT_EQ(stored->front().myLanguage, "en");

    // The preview is the first entry's, cut to 120 characters, not bytes.
    const std::string flag = "🇨🇳";
    const std::string accented = "e\xCC\x81";  // e + combining acute
    ConversationSession longFirst{.entries = {entry(Side::me, repeat(flag, 121), 1), entry(Side::them, "x", 2)}};
    EXPECT_EQ(ConversationHistory::summary(longFirst).preview, repeat(flag, 120));
    ConversationSession exact{.entries = {entry(Side::them, repeat(accented, 120), 1)}};
    EXPECT_EQ(ConversationHistory::summary(exact).preview, repeat(accented, 120));
    ConversationSession ascii{.entries = {entry(Side::them, repeat("ab", 61), 1)}};
    EXPECT_EQ(ConversationHistory::summary(ascii).preview, repeat("ab", 60));
}

TEST(ConversationRecords, LanguagePairNamesFollowTheInterfaceLanguage)
{
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    InterfaceLanguage::set("zh-Hans");

    ConversationSummary pair{.theirLanguage = "en", .myLanguage = "zh-Hans"};
    EXPECT_EQ(pair.languagePairText(), "英语 ⇄ 中文");
    ConversationSummary unknownMine{.theirLanguage = "en", .myLanguage = "sv"};
    EXPECT_EQ(unknownMine.languagePairText(), "英语");
    EXPECT_EQ(ConversationSummary{}.languagePairText(), "");
    ConversationSummary portuguese{.theirLanguage = "pt-BR"};
    EXPECT_EQ(portuguese.languagePairText(), "葡萄牙语");

    InterfaceLanguage::set("en");
    EXPECT_EQ(pair.languagePairText(), "English ⇄ Chinese");
    platform.text.pinDisplayName("zh-Hant", "en", "Chinese, Traditional");
    ConversationSummary traditional{.theirLanguage = "zh-Hant", .myLanguage = "en"};
    EXPECT_EQ(traditional.languagePairText(), "Chinese (Traditional) ⇄ English");

    auto named = [](std::string_view id) -> std::optional<std::string> {
        return id == "en" ? std::optional<std::string>("EN") : std::nullopt;
    };
    EXPECT_EQ(pair.languagePairText(named), "EN");
}

TEST(ConversationRecords, NewSessionsAndEntriesTakeTheirIdsFromTheSeat)
{
    rt::ManualRuntime runtime;
    rt::CountingUuidSource ids;
    rt::UuidSourceScope seat(ids);
    ConversationSession session;
    session.entries.push_back(ConversationEntry{});
    EXPECT_EQ(session.id.toString(), "00000000-0000-0000-0000-000000000001");
    EXPECT_EQ(session.entries[0].id.toString(), "00000000-0000-0000-0000-000000000002");
}

}  // namespace
}  // namespace parlaro
