// History session and index files: the full reader, the search's fast
// reader beside it, and what the writer makes of whatever was read.

#include "FuzzSupport.h"

#include "history/HistoryJson.h"
#include "history/HistoryText.h"
#include "history/SessionScan.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace parlaro;

namespace {

// What a search finds in a decoded session: the first entry holding the
// pattern, its original before its translation.
std::optional<std::string> firstMatch(const ConversationSession& session, const HistoryText::SearchPattern& pattern)
{
    for (const auto& entry : session.entries) {
        if (pattern.isFoundIn(entry.original))
            return entry.original;
        if (pattern.isFoundIn(entry.translated))
            return entry.translated;
    }
    return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    static const HistoryText::SearchPattern patterns[] = {
        HistoryText::SearchPattern("a"), HistoryText::SearchPattern("Café"), HistoryText::SearchPattern("\\")};

    const std::optional<ConversationSession> session = HistoryJson::decodeSession(text);
    for (const auto& pattern : patterns) {
        const SessionScan scan = SessionScan::of(text, pattern);
        // The fast reader claims only files the full reader reads, and finds
        // what a search of the decoded session finds.
        if (scan.written) {
            FUZZ_CHECK(session.has_value());
            FUZZ_CHECK(scan.match == firstMatch(*session, pattern));
        }
    }
    if (session) {
        // Whatever was read is written in the form the fast reader takes,
        // and reads back the same.
        const std::string again = HistoryJson::encode(*session);
        const auto reread = HistoryJson::decodeSession(again);
        FUZZ_CHECK(reread == session);
        for (const auto& pattern : patterns) {
            const SessionScan scan = SessionScan::of(again, pattern);
            FUZZ_CHECK(scan.written);
            FUZZ_CHECK(scan.match == firstMatch(*reread, pattern));
        }
    }

    if (const auto summaries = HistoryJson::decodeSummaries(text)) {
        const std::string again = HistoryJson::encode(*summaries);
        const auto reread = HistoryJson::decodeSummaries(again);
        FUZZ_CHECK(reread == summaries);
    }
    return 0;
}
