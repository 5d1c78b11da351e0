#pragma once

#include "history/CallLanguageName.h"
#include "history/ConversationEntry.h"
#include "history/DateFormats.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parlaro {

// Turns a conversation into the content of a plain-text or CSV file and
// proposes the file's name. Pure functions: no state, no files. Labels and
// language names follow the interface language; dates follow the locale and
// time zone of `context` (the system's by default).
namespace ConversationExport {

// The raw value is the file name extension.
enum class Format { text, csv };
inline constexpr std::array<Format, 2> allCases{Format::text, Format::csv};
std::string rawValue(Format format);
std::optional<Format> fromRawValue(std::string_view raw);

// "Parlaro " and the date as "yyyy-MM-dd HH.mm", no extension.
std::string defaultFileName(rt::Date date, const LocaleContext& context = {});

// The header line, an empty line, then per entry a heading (time of day,
// speaker and language), the original, the translation when it adds
// anything, and an empty line; lines joined by line feeds.
std::string text(const std::vector<ConversationEntry>& entries, const std::string& header,
                 const LocaleContext& context = {}, const LanguageNamer& languageName = callLanguageName);

// A byte-order mark, then a header record and one record per entry, six
// fields each, every field quoted, records ended by CR LF.
std::string csv(const std::vector<ConversationEntry>& entries, const LocaleContext& context = {},
                const LanguageNamer& languageName = callLanguageName);

}  // namespace ConversationExport
}  // namespace parlaro
