#include "history/ConversationExport.h"
#include "history/ConversationHistory.h"
#include "history/HistoryPrinting.h"
#include "platform/sim/SimPlatform.h"
#include "runtime/ManualRuntime.h"
#include "speech/InterfaceLanguage.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

using Side = ConversationEntry::Side;

// 2026-12-06 14:05:09 and 14:06:00.5 in Shanghai (UTC+8, no daylight saving).
constexpr rt::Date firstTime{818229909.0};
constexpr rt::Date secondTime{818229960.5};
const LocaleContext shanghai{"en_GB", "Asia/Shanghai"};

std::vector<ConversationEntry> twoEntries()
{
    return {
        ConversationEntry{.id = rt::Uuid::random(),
                          .side = Side::them,
                          .original = "He said \"hi\", then left\nsecond line",
                          .translated = "他说\"嗨\"，然后走了",
                          .time = firstTime,
                          .originalLanguage = "en",
                          .translatedLanguage = "zh-Hans"},
        ConversationEntry{.id = rt::Uuid::random(),
                          .side = Side::me,
                          .original = "好的,谢谢",
                          .translated = "",
                          .time = secondTime,
                          .originalLanguage = "sv",
                          .translatedLanguage = std::nullopt},
    };
}

struct ExportTest : ::testing::Test {
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    ExportTest() { InterfaceLanguage::set("zh-Hans"); }
};

TEST_F(ExportTest, CsvQuotesEveryFieldAndEndsRecordsWithCrLf)
{
    const std::string expected =
        "\xEF\xBB\xBF"
        "\"时间\",\"说话方\",\"原文语言\",\"原文\",\"译文语言\",\"译文\"\r\n"
        "\"2026-12-06T14:05:09+08:00\",\"对方\",\"英语\",\"He said \"\"hi\"\", then left\nsecond line\","
        "\"中文\",\"他说\"\"嗨\"\"，然后走了\"\r\n"
        "\"2026-12-06T14:06:00+08:00\",\"我\",\"\",\"好的,谢谢\",\"\",\"\"\r\n";
    EXPECT_EQ(ConversationExport::csv(twoEntries(), shanghai), expected);

    EXPECT_EQ(ConversationExport::csv({}, shanghai),
              "\xEF\xBB\xBF\"时间\",\"说话方\",\"原文语言\",\"原文\",\"译文语言\",\"译文\"\r\n");

    // UTC is written as Z; the locale never changes the digits or calendar.
    auto same = twoEntries();
    same[1].translated = same[1].original;
    const std::string utc = ConversationExport::csv(same, LocaleContext{"th_TH", "UTC"});
    EXPECT_NE(utc.find("\"2026-12-06T06:05:09Z\""), std::string::npos) << utc;
    EXPECT_NE(utc.find("\"好的,谢谢\",\"\",\"好的,谢谢\"\r\n"), std::string::npos) << "equal columns both kept";

    // One file across a change of summer time: each date keeps its own
    // offset, though the formatter is made once for them all.
    auto seasons = twoEntries();
    seasons[1].time = seasons[0].time + -150 * 86400.0;
    const std::string berlin = ConversationExport::csv(seasons, LocaleContext{"de_DE", "Europe/Berlin"});
    EXPECT_NE(berlin.find("\"2026-12-06T07:05:09+01:00\""), std::string::npos) << berlin;
    EXPECT_NE(berlin.find("\"2026-07-09T08:05:09+02:00\""), std::string::npos) << berlin;
}

TEST_F(ExportTest, PlainTextListsEachEntryUnderItsHeading)
{
    auto entries = twoEntries();
    EXPECT_EQ(ConversationExport::text(entries, "标题 · 英语 ⇄ 中文", shanghai),
              "标题 · 英语 ⇄ 中文\n"
              "\n"
              "14:05:09  对方（英语）\n"
              "He said \"hi\", then left\n"
              "second line\n"
              "他说\"嗨\"，然后走了\n"
              "\n"
              "14:06:00  我\n"
              "好的,谢谢\n");
    EXPECT_EQ(ConversationExport::text({}, "Header", shanghai), "Header\n");

    entries[0].translated = entries[0].original;
    entries[0].originalLanguage.reset();
    EXPECT_EQ(ConversationExport::text({entries[0]}, "", shanghai),
              "\n\n14:05:09  对方\nHe said \"hi\", then left\nsecond line\n");
}

TEST_F(ExportTest, LabelsFollowTheInterfaceLanguageAndTimesTheLocale)
{
    platform.bundles.setTable("en",
                              {{"我", "Me"},
                               {"对方", "Other party"},
                               {"时间", "Time"},
                               {"说话方", "Speaker"},
                               {"原文语言", "Original language"},
                               {"原文", "Original"},
                               {"译文语言", "Translation language"},
                               {"译文", "Translation"},
                               {"%@（%@）", "%@ (%@)"}});
    InterfaceLanguage::set("en");
    const auto entries = twoEntries();
    const std::string csv = ConversationExport::csv(entries, shanghai);
    EXPECT_EQ(csv.substr(0, csv.find("\r\n")),
              "\xEF\xBB\xBF\"Time\",\"Speaker\",\"Original language\",\"Original\",\"Translation language\","
              "\"Translation\"");
    EXPECT_NE(csv.find("\"Other party\",\"English\""), std::string::npos);
    EXPECT_NE(csv.find("\"Chinese\""), std::string::npos);

    const std::string text = ConversationExport::text(entries, "H", LocaleContext{"de_DE", "Asia/Shanghai"});
    // In the brackets of the interface language, not full-width ones.
    EXPECT_NE(text.find("\n14:05:09  Other party (English)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n14:06:00  Me\n"), std::string::npos) << text;

    auto named = [](std::string_view id) -> std::optional<std::string> {
        return id == "sv" ? std::optional<std::string>("Svenska") : std::nullopt;
    };
    EXPECT_NE(ConversationExport::text(entries, "H", shanghai, named).find("14:06:00  Me (Svenska)"),
              std::string::npos);
}

TEST_F(ExportTest, FileNameAndFormats)
{
    EXPECT_EQ(ConversationExport::defaultFileName(firstTime, {"en_US", "Asia/Shanghai"}), "Parlaro 2026-12-06 14.05");
    EXPECT_EQ(ConversationExport::defaultFileName(rt::Date{794019900.0}, {"en_US", "Asia/Shanghai"}),
              "Parlaro 2026-03-01 09.05");
    EXPECT_EQ(ConversationExport::defaultFileName(firstTime, {"zh_CN", "UTC"}), "Parlaro 2026-12-06 06.05");

    using ConversationExport::Format;
    EXPECT_EQ(ConversationExport::allCases[0], Format::text);
    EXPECT_EQ(ConversationExport::allCases[1], Format::csv);
    EXPECT_EQ(ConversationExport::rawValue(Format::text), "txt");
    EXPECT_EQ(ConversationExport::rawValue(Format::csv), "csv");
    EXPECT_EQ(ConversationExport::fromRawValue("csv"), Format::csv);
    EXPECT_FALSE(ConversationExport::fromRawValue("CSV"));
    EXPECT_FALSE(ConversationExport::fromRawValue("text"));
}

TEST_F(ExportTest, SummaryOfExportedEntriesNamesThePair)
{
    // The export panel heads the text with the pair of a summary made from
    // the entries it exports; my first entry's "sv" is no call language.
    auto entries = twoEntries();
    EXPECT_EQ(ConversationHistory::summary(ConversationSession{.entries = entries}).languagePairText(), "英语");
    entries[1].originalLanguage.reset();
    EXPECT_EQ(ConversationHistory::summary(ConversationSession{.entries = entries}).languagePairText(), "英语 ⇄ 中文");
}

}  // namespace
}  // namespace parlaro
