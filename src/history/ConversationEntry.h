#pragma once

#include "runtime/Clock.h"
#include "runtime/Runtime.h"
#include "runtime/Time.h"
#include "runtime/Uuid.h"
#include "runtime/UuidSource.h"

#include <optional>
#include <string>
#include <string_view>

namespace parlaro {

// One sentence of a conversation with its translation. Build it with
// designated initializers in field order; `id` and `time` default to a fresh
// identifier and the current wall-clock date.
struct ConversationEntry {
    enum class Side { them, me };

    rt::Uuid id = rt::newUuid();
    Side side = Side::them;
    std::string original;
    std::string translated;  // may be empty
    rt::Date time = rt::clock().date();
    std::optional<std::string> originalLanguage;    // call-language id of `original`
    std::optional<std::string> translatedLanguage;  // call-language id of `translated`

    // "them" / "me"; any other text is no side, letter case included.
    static std::string rawValue(Side side);
    static std::optional<Side> sideFromRawValue(std::string_view raw);

    friend bool operator==(const ConversationEntry&, const ConversationEntry&) = default;
};

}  // namespace parlaro
