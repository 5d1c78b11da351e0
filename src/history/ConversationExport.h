#pragma once

#include "history/CallLanguageName.h"
#include "history/ConversationEntry.h"
#include "history/DateFormats.h"

#include <array>
#include <cstddef>
#include <functional>
#include <map>
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

// The words the files use besides the entries' own: speakers, the table's
// column titles and the names of the languages the entries use. Looked up
// in the interface language, on the main actor, so that the files can be
// made on any thread.
struct Labels {
    std::string me;
    std::string them;
    std::vector<std::string> columns;
    std::map<std::string, std::optional<std::string>, std::less<>> languages;
    // How the language writes a text with an aside in brackets, with marks
    // where the two go.
    std::string bracketed;
};
Labels labels(const std::vector<ConversationEntry>& entries, const LanguageNamer& languageName = callLanguageName);

// Told how many entries are done every so often while a file is made;
// false stops making it (what was made so far is then of no use).
using Progress = std::function<bool(std::size_t done)>;

// The header line, an empty line, then per entry a heading (time of day,
// speaker and language), the original, the translation when it adds
// anything, and an empty line; lines joined by line feeds.
std::string text(const std::vector<ConversationEntry>& entries, const std::string& header,
                 const LocaleContext& context = {}, const LanguageNamer& languageName = callLanguageName);
std::string text(const std::vector<ConversationEntry>& entries, const std::string& header, const LocaleContext& context,
                 const Labels& labels, const Progress& progress);

// A byte-order mark, then a header record and one record per entry, six
// fields each, every field quoted, records ended by CR LF.
std::string csv(const std::vector<ConversationEntry>& entries, const LocaleContext& context = {},
                const LanguageNamer& languageName = callLanguageName);
std::string csv(const std::vector<ConversationEntry>& entries, const LocaleContext& context, const Labels& labels,
                const Progress& progress);

}  // namespace ConversationExport
}  // namespace parlaro
