#include "platform/linux/apertium/ApertiumSpanish.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>

namespace parlaro::sys::ApertiumSpanish {

namespace {

struct Name {
    std::string_view english;
    std::string_view spanish;
    bool day;
};

constexpr std::array<Name, 19> names{{
    {"monday", "lunes", true},          {"tuesday", "martes", true},   {"wednesday", "miércoles", true},
    {"thursday", "jueves", true},       {"friday", "viernes", true},   {"saturday", "sábado", true},
    {"sunday", "domingo", true},        {"january", "enero", false},   {"february", "febrero", false},
    {"march", "marzo", false},          {"april", "abril", false},     {"may", "mayo", false},
    {"june", "junio", false},           {"july", "julio", false},      {"august", "agosto", false},
    {"september", "septiembre", false}, {"october", "octubre", false}, {"november", "noviembre", false},
    {"december", "diciembre", false},
}};

bool isLetter(char c)
{
    // Bytes of multi-byte UTF-8 characters belong to words too ("miércoles").
    return std::isalpha(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) >= 0x80;
}

std::string lower(std::string_view word)
{
    std::string result(word);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

// The name `word` (any case) is, its plural counting for a day ("Mondays").
const Name* nameOf(std::string_view word, bool* plural = nullptr)
{
    const std::string folded = lower(word);
    for (const auto& name : names) {
        if (folded == name.english)
            return &name;
        if (name.day && folded.size() == name.english.size() + 1 && folded.starts_with(name.english)
            && folded.back() == 's') {
            if (plural)
                *plural = true;
            return &name;
        }
    }
    return nullptr;
}

// Calls `each(start, length)` for every word of `text`, and replaces it by
// what `each` returns, when it returns anything.
template <typename Each>
std::string rewriteWords(std::string_view text, Each each)
{
    std::string result;
    std::size_t at = 0;
    while (at < text.size()) {
        if (!isLetter(text[at])) {
            result += text[at++];
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && isLetter(text[end]))
            ++end;
        const std::optional<std::string> replaced = each(text, at, end - at, result);
        result += replaced ? *replaced : std::string(text.substr(at, end - at));
        at = end;
    }
    return result;
}

// Whether text written so far ends where a sentence opens.
bool opensSentence(std::string_view written)
{
    const auto last = written.find_last_not_of(" *#@¿¡\"'");
    if (last == std::string_view::npos)
        return true;
    const char c = written[last];
    return c == '.' || c == '?' || c == '!';
}

std::string capitalized(std::string_view word)
{
    std::string result(word);
    if (!result.empty())
        result[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(result[0])));
    return result;
}

}  // namespace

std::string englishSource(std::string_view english)
{
    return rewriteWords(english,
                        [](std::string_view text, std::size_t at, std::size_t length,
                           const std::string&) -> std::optional<std::string> {
                            const std::string_view word = text.substr(at, length);
                            const Name* name = nameOf(word);
                            if (!name || name->english == "march" || name->english == "may"
                                || !std::islower(static_cast<unsigned char>(word[0])))
                                return std::nullopt;
                            return capitalized(word);
                        });
}

std::string written(std::string_view english, std::string_view spanish)
{
    // "March" in the source is the month; the translators' "Marcha" for it
    // keeps the source's capital.
    bool march = false;
    rewriteWords(english, [&](std::string_view text, std::size_t at, std::size_t length, const std::string&) {
        march = march || text.substr(at, length) == "March";
        return std::optional<std::string>();
    });
    std::string named = rewriteWords(
        spanish,
        [&](std::string_view text, std::size_t at, std::size_t length,
            std::string& before) -> std::optional<std::string> {
            const std::string_view word = text.substr(at, length);
            std::optional<std::string> spanishName;
            bool plural = false;
            if (const Name* name = nameOf(word, &plural); name && name->english != "may")
                spanishName = std::string(name->spanish) + (plural && !name->spanish.ends_with('s') ? "s" : "");
            else if (march && word == "Marcha")
                spanishName = "marzo";
            else if (std::any_of(names.begin(), names.end(), [&](const Name& n) {
                         return lower(word) == n.spanish || lower(word) == std::string(n.spanish) + "s";
                     }))
                spanishName = lower(word);
            if (!spanishName)
                return std::nullopt;
            // The translators mark an unknown word; a name is known now.
            while (!before.empty() && (before.back() == '*' || before.back() == '#' || before.back() == '@'))
                before.pop_back();
            return opensSentence(before) ? capitalized(*spanishName) : *spanishName;
        });
    return withOpeningQuestionMarks(named);
}

std::string withOpeningQuestionMarks(std::string_view spanish)
{
    constexpr std::string_view opening = "¿";
    std::string result;
    std::size_t sentence = 0;
    for (std::size_t at = 0; at < spanish.size(); ++at) {
        const char c = spanish[at];
        // "3.5" holds no sentence end.
        if ((c != '.' && c != '?' && c != '!') || (at + 1 < spanish.size() && spanish[at + 1] != ' '))
            continue;
        std::string_view piece = spanish.substr(sentence, at + 1 - sentence);
        const auto first = piece.find_first_not_of(' ');
        if (c == '?' && first != std::string_view::npos && !piece.substr(first).starts_with(opening)) {
            result += piece.substr(0, first);
            result += opening;
            result += piece.substr(first);
        } else {
            result += piece;
        }
        sentence = at + 1;
    }
    result += spanish.substr(sentence);
    return result;
}

}  // namespace parlaro::sys::ApertiumSpanish
