#pragma once

#include "history/CallLanguageName.h"
#include "runtime/Time.h"
#include "runtime/Uuid.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace parlaro {

// The one-row digest of a session that the history index stores and the
// history list shows.
struct ConversationSummary {
    // A preview, and a search hit's sentence, hold at most this many
    // user-perceived characters; one that long may have been cut.
    static constexpr std::size_t previewLength = 120;

    rt::Uuid id;
    rt::Date started;
    rt::Date updated;
    std::int64_t count = 0;
    std::optional<std::string> theirLanguage;
    std::optional<std::string> myLanguage;
    std::string preview;  // at most 120 characters of the first sentence
    // The session file's modification date when this summary was made.
    std::optional<rt::Date> fileDate;

    // The names of theirLanguage and myLanguage joined by " ⇄ ", leaving out
    // ids that have no name; empty when neither has one.
    std::string languagePairText(const LanguageNamer& name = callLanguageName) const;

    friend bool operator==(const ConversationSummary&, const ConversationSummary&) = default;
};

}  // namespace parlaro
