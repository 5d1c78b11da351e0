#pragma once

#include "history/ConversationEntry.h"
#include "history/ConversationSession.h"
#include "history/ConversationSummary.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace parlaro {

// The JSON form of the history records: one object per record, the field
// names as keys, dates as seconds since 2001-01-01 (numbers that read back
// to the same double), identifiers as upper-case UUID strings, absent
// optional fields left out. Unknown keys are ignored on reading; a missing
// or mistyped field makes the record, and whatever holds it, unreadable.
namespace HistoryJson {

// Why a record cannot be read.
class DecodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

nlohmann::json toJson(ConversationEntry::Side side);
nlohmann::json toJson(const ConversationEntry& entry);
nlohmann::json toJson(const ConversationSession& session);
nlohmann::json toJson(const ConversationSummary& summary);

// Throw DecodingError.
ConversationEntry::Side sideFromJson(const nlohmann::json& json);
ConversationEntry entryFromJson(const nlohmann::json& json);
ConversationSession sessionFromJson(const nlohmann::json& json);
ConversationSummary summaryFromJson(const nlohmann::json& json);

// Compact JSON text. Text that is not valid UTF-8 is written with
// replacement characters rather than failing, so a session is never lost to
// one bad byte.
std::string encode(const nlohmann::json& json);
std::string encode(const ConversationSession& session);
std::string encode(const std::vector<ConversationSummary>& summaries);

// nullopt when the text is not JSON or does not read as the record.
std::optional<ConversationSession> decodeSession(std::string_view text);
std::optional<std::vector<ConversationSummary>> decodeSummaries(std::string_view text);

}  // namespace HistoryJson
}  // namespace parlaro
