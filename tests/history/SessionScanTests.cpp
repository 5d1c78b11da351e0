// The search's pass over session files as written, against decoding each
// file in full, on seeded random sessions and random damage to them.

#include "history/HistoryJson.h"
#include "history/SessionScan.h"
#include "runtime/ManualRuntime.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace parlaro {
namespace {

// The plain way: decode the session, then walk its entries.
std::optional<std::optional<std::string>> decodedMatch(const std::string& file,
                                                       const HistoryText::SearchPattern& pattern)
{
    auto session = HistoryJson::decodeSession(file);
    if (!session)
        return std::nullopt;
    for (const auto& entry : session->entries) {
        if (pattern.isFoundIn(entry.original))
            return std::optional<std::string>(entry.original);
        if (pattern.isFoundIn(entry.translated))
            return std::optional<std::string>(entry.translated);
    }
    return std::optional<std::string>();
}

TEST(SessionScan, FindsWhatDecodingFindsOrLeavesTheFileToIt)
{
    rt::ManualRuntime runtime;
    const std::vector<std::string> pieces{"Bahnhof", "bahn", "HOF", " ",       "price",  "\"",   "\\",   "/",   "\n",
                                          "\t",      "\x01", "é",   "E\u0301", "Straße", "明天", "开会", "。",  "👋",
                                          "\u2028",  "{",    "}",   "[",       ",",      ":",    "null", "\x7f"};
    // Damage: what a hand edit, a crash of another program or a later
    // version might leave.
    const std::vector<std::pair<std::string, std::string>> edits{
        {"\"side\":\"them\"", "\"side\":\"Them\""},
        {"\"side\":\"me\"", "\"side\":null"},
        {"\"time\":", "\"time\": "},
        {",\"translated\":", ",\"extra\":1,\"translated\":"},
        {"\"originalLanguage\":\"en\"", "\"originalLanguage\":null"},
        {"\"id\":\"", "\"id\":\"x"},
        {"{\"id\"", "{\"id\":\"0\",\"id\""},
        {"\"time\":7", "\"time\":\"7\""},
        {"\"translated\":\"", "\"translated\":\"\\u00e9"},
        {"\"original\":\"", "\"original\":\"\\ud83d\\udc4b"},
        {"]", "] "},
        {"\"entries\":[", "\"entries\":[ "},
        {"明", "\xe6\x98"},
        {"é", "\xc3"},
        {"é", "\xc0\xa9"}};
    std::mt19937 random(3);
    int written = 0;
    int found = 0;
    int damaged = 0;
    for (int round = 0; round < 3000; ++round) {
        ConversationSession session;
        const std::size_t count = random() % 5;
        for (std::size_t e = 0; e < count; ++e) {
            auto text = [&] {
                std::string made;
                for (std::size_t i = random() % 6; i > 0; --i)
                    made += pieces[random() % pieces.size()];
                return made;
            };
            ConversationEntry entry{.side = random() % 2 ? ConversationEntry::Side::them : ConversationEntry::Side::me,
                                    .original = text(),
                                    .translated = text(),
                                    .time = rt::Date{random() % 3 ? 700000000.25 + random() % 1000 : -7.0 * random()}};
            if (random() % 2)
                entry.originalLanguage = "en";
            if (random() % 3)
                entry.translatedLanguage = "zh-Hans";
            session.entries.push_back(entry);
        }
        std::string file = HistoryJson::encode(session);
        const bool damage = round % 3 == 0;
        if (damage) {
            const auto& [from, to] = edits[random() % edits.size()];
            if (auto at = file.find(from); at != std::string::npos)
                file.replace(at, from.size(), to);
            else if (!file.empty())
                file.erase(random() % file.size(), 1);
        }
        const std::string query =
            std::vector<std::string>{"bahnhof", "PRICE", "明天", "e", "\"", "ss", "x"}[random() % 7];
        const HistoryText::SearchPattern pattern(query);

        const SessionScan scan = SessionScan::of(file, pattern);
        const auto expected = decodedMatch(file, pattern);
        if (!damage) {
            // Every file as written takes the quick pass.
            EXPECT_TRUE(scan.written) << file;
        }
        if (scan.written) {
            ASSERT_TRUE(expected) << "a file the decoder refuses was taken: " << file;
            EXPECT_EQ(scan.match, *expected) << file;
            ++written;
            found += scan.match.has_value();
            damaged += damage;
        } else {
            EXPECT_FALSE(scan.match) << file;
        }
    }
    EXPECT_GT(written, 2000);
    EXPECT_GT(found, 500);
    // Some damage leaves a file that still decodes the same and is read so.
    EXPECT_GT(damaged, 20);
}

}  // namespace
}  // namespace parlaro
