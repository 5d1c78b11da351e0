#pragma once

#include "history/HistoryText.h"

#include <optional>
#include <string>
#include <string_view>

namespace parlaro {

// A search through a session file without building the session: a single
// pass over the JSON exactly as this program writes it (compact, keys in
// order, no nulls), which keeps the texts where they lie in the file. Any
// file in another form is left to the full decoder, so the outcome is
// always the one decoding the file would give.
struct SessionScan {
    // False when the file is not in the written form: decode it instead.
    bool written = false;
    // The first entry's text that holds the pattern: the original when both
    // do. Only for a file that decodes as a whole.
    std::optional<std::string> match;

    static SessionScan of(std::string_view file, const HistoryText::SearchPattern& pattern);
};

}  // namespace parlaro
