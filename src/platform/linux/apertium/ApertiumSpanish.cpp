#include "platform/linux/apertium/ApertiumSpanish.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

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

// The day of a date as Spanish writes it, "el 3 de marzo": the translators
// give the English ordinal word by word ("el tercer de marzo", "el veinte
// primer de marzo", "el 3.º de marzo") and put "en" or "encima" for the
// "on" before it, which Spanish leaves out.
std::string withDaysOfMonth(const std::string& spanish)
{
    static const std::regex date(
        "(^|\\s|¿)(?:([Ee]n|[Ee]ncima) )?([Ee]l) (?:(veinte|treinta|vigésimo|trigésimo)[ -])?"
        "(primer|primero|segundo|tercer|tercero|cuarto|quinto|sexto|séptimo|octavo|noveno|décimo|undécimo|"
        "duodécimo|decimotercer|decimotercero|decimocuarto|decimoquinto|decimosexto|decimoséptimo|decimoctavo|"
        "decimonoveno|vigésimo|trigésimo|[0-9]{1,2}\\.º) de (enero|febrero|marzo|abril|mayo|junio|julio|agosto|"
        "septiembre|octubre|noviembre|diciembre)\\b");
    static constexpr std::array<std::string_view, 20> ordinals{
        "primer",       "segundo",     "tercer",        "cuarto",      "quinto",       "sexto",        "séptimo",
        "octavo",       "noveno",      "décimo",        "undécimo",    "duodécimo",    "decimotercer", "decimocuarto",
        "decimoquinto", "decimosexto", "decimoséptimo", "decimoctavo", "decimonoveno", "vigésimo",
    };
    std::string result;
    auto from = spanish.cbegin();
    for (std::sregex_iterator at(spanish.begin(), spanish.end(), date), end; at != end; ++at) {
        const std::smatch& found = *at;
        std::string ordinal = found[5];
        int day = 0;
        if (std::isdigit(static_cast<unsigned char>(ordinal[0])))
            day = std::stoi(ordinal);
        else if (ordinal == "trigésimo")
            day = 30;
        else {
            if (ordinal == "primero" || ordinal == "tercero" || ordinal == "decimotercero")
                ordinal.pop_back();
            day = static_cast<int>(std::find(ordinals.begin(), ordinals.end(), ordinal) - ordinals.begin()) + 1;
        }
        const std::string tens = found[4];
        if (!tens.empty())
            day = day < 10 ? day + (tens == "veinte" || tens == "vigésimo" ? 20 : 30) : 0;
        if (day < 1 || day > 31)
            continue;
        const std::string article =
            found[2].matched ? std::string(1, found[2].str()[0] == 'E' ? 'E' : 'e') + "l" : found[3].str();
        result.append(from, found[0].first);
        result += found[1].str() + article + " " + std::to_string(day) + " de " + found[6].str();
        from = found[0].second;
    }
    result.append(from, spanish.cend());
    return result;
}

// `word` in lower case without its Spanish accents ("Níger" -> "niger").
std::string folded(std::string_view word)
{
    static constexpr std::array<std::pair<std::string_view, char>, 14> accented{{
        {"á", 'a'},
        {"é", 'e'},
        {"í", 'i'},
        {"ó", 'o'},
        {"ú", 'u'},
        {"ü", 'u'},
        {"ñ", 'n'},
        {"Á", 'a'},
        {"É", 'e'},
        {"Í", 'i'},
        {"Ó", 'o'},
        {"Ú", 'u'},
        {"Ü", 'u'},
        {"Ñ", 'n'},
    }};
    std::string result;
    for (std::size_t at = 0; at < word.size();) {
        const auto found = std::find_if(accented.begin(), accented.end(),
                                        [&](const auto& pair) { return word.substr(at).starts_with(pair.first); });
        if (found != accented.end()) {
            result += found->second;
            at += found->first.size();
        } else {
            result += static_cast<char>(std::tolower(static_cast<unsigned char>(word[at++])));
        }
    }
    return result;
}

// A word the translators do not know keeps its capital, and they give the
// word after it one too ("Snyder Llamó de Níger"). Where the source has the
// name followed by a word in lower case, so has the translation, unless the
// word is itself one of the source's names, moved there ("Níger").
std::string withoutCapitalsAfterNames(std::string_view english, std::string_view spanish)
{
    // Each capitalized word of the source and the word right after it.
    std::vector<std::pair<std::string, std::string>> followed;
    std::vector<std::string> names;
    std::string previous;
    std::size_t previousEnd = 0;
    rewriteWords(english, [&](std::string_view text, std::size_t at, std::size_t length, const std::string&) {
        const std::string word(text.substr(at, length));
        if (!previous.empty() && text.substr(previousEnd, at - previousEnd).find_first_not_of(' ') == std::string::npos)
            followed.emplace_back(previous, word);
        previous = std::isupper(static_cast<unsigned char>(word[0])) ? word : std::string();
        if (!previous.empty())
            names.push_back(folded(word));
        previousEnd = at + length;
        return std::optional<std::string>();
    });
    return rewriteWords(
        spanish,
        [&](std::string_view text, std::size_t at, std::size_t length,
            const std::string& before) -> std::optional<std::string> {
            const auto last = before.find_last_not_of(' ');
            if (!std::isupper(static_cast<unsigned char>(text[at])) || last == std::string::npos
                || last + 1 == before.size() || !isLetter(before[last]))
                return std::nullopt;
            std::size_t start = last + 1;
            while (start > 0 && isLetter(before[start - 1]))
                --start;
            const std::string name = before.substr(start, last + 1 - start);
            const bool lowerAfter = std::any_of(followed.begin(), followed.end(), [&](const auto& pair) {
                return pair.first == name && std::islower(static_cast<unsigned char>(pair.second[0]));
            });
            std::string word(text.substr(at, length));
            if (!lowerAfter || std::find(names.begin(), names.end(), folded(word)) != names.end())
                return std::nullopt;
            word[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(word[0])));
            return word;
        });
}

// A title before a name is written in lower case inside a Spanish sentence
// ("con la señora Jackson"); the translators keep the English capital.
std::string withTitlesInLowerCase(std::string_view spanish)
{
    static constexpr std::array<std::string_view, 7> titles{"Señor",     "Señora", "Señorita", "Profesor",
                                                            "Profesora", "Doctor", "Doctora"};
    return rewriteWords(spanish,
                        [](std::string_view text, std::size_t at, std::size_t length,
                           const std::string& before) -> std::optional<std::string> {
                            const std::size_t next = at + length + 1;
                            if (std::find(titles.begin(), titles.end(), text.substr(at, length)) == titles.end()
                                || opensSentence(before) || next >= text.size() || text[next - 1] != ' '
                                || !std::isupper(static_cast<unsigned char>(text[next])))
                                return std::nullopt;
                            return lower(text.substr(at, length));
                        });
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
    return withOpeningQuestionMarks(withDaysOfMonth(withTitlesInLowerCase(withoutCapitalsAfterNames(english, named))));
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
