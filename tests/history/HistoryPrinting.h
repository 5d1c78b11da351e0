#pragma once

#include "history/ConversationSummary.h"
#include "history/HistoryJson.h"

#include <ostream>

// Readable failure messages for history values.
namespace parlaro {
namespace rt {
inline void PrintTo(const Uuid& id, std::ostream* out)
{
    *out << id.toString();
}
inline void PrintTo(const Date& date, std::ostream* out)
{
    *out << HistoryJson::encode(nlohmann::json(date.sinceReferenceDate));
}
}  // namespace rt
inline void PrintTo(const ConversationSummary& summary, std::ostream* out)
{
    *out << HistoryJson::encode(HistoryJson::toJson(summary));
}
inline void PrintTo(const ConversationEntry& entry, std::ostream* out)
{
    *out << HistoryJson::encode(HistoryJson::toJson(entry));
}
inline void PrintTo(const ConversationSession& session, std::ostream* out)
{
    *out << HistoryJson::encode(session);
}
}  // namespace parlaro
