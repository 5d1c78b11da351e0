#pragma once

#include "history/ConversationEntry.h"
#include "runtime/UuidSource.h"

#include <vector>

namespace parlaro {

// One conversation: its entries in the order they were added. The id names
// the session's file in the history folder.
struct ConversationSession {
    // 0001-01-01 00:00:00 UTC, the start and end of a session without entries.
    static constexpr rt::Date distantPast{-63114076800.0};

    rt::Uuid id = rt::newUuid();
    std::vector<ConversationEntry> entries;

    // Time of the first and of the last entry.
    rt::Date started() const { return entries.empty() ? distantPast : entries.front().time; }
    rt::Date updated() const { return entries.empty() ? distantPast : entries.back().time; }

    friend bool operator==(const ConversationSession&, const ConversationSession&) = default;
};

}  // namespace parlaro
