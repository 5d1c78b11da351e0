#include "platform/linux/apertium/ApertiumSpanish.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/udata.h>
#include <unicode/unistr.h>
#include <unicode/ures.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

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

const icu::Locale& spanishLocale()
{
    static const icu::Locale locale("es");
    return locale;
}

// The code point at `at`, and where the next one starts; ill-formed bytes
// read as a negative code point, one byte long.
UChar32 codePointAt(std::string_view text, std::size_t& at)
{
    UChar32 c = 0;
    auto offset = static_cast<int32_t>(at);
    U8_NEXT(text.data(), offset, static_cast<int32_t>(text.size()), c);
    at = static_cast<std::size_t>(offset);
    return c;
}

// The code point that ends before `at`, and where it starts.
UChar32 codePointBefore(std::string_view text, std::size_t& at)
{
    UChar32 c = 0;
    auto offset = static_cast<int32_t>(at);
    U8_PREV(text.data(), 0, offset, c);
    at = static_cast<std::size_t>(offset);
    return c;
}

// Accents are marks of their own once decomposed, and belong to the word.
bool isLetter(UChar32 c)
{
    return c >= 0 && (u_isalpha(c) || (U_GET_GC_MASK(c) & U_GC_M_MASK) != 0);
}

UChar32 firstCodePoint(std::string_view word)
{
    std::size_t at = 0;
    return word.empty() ? -1 : codePointAt(word, at);
}

bool startsUpper(std::string_view word)
{
    const UChar32 c = firstCodePoint(word);
    return c >= 0 && u_isupper(c);
}

bool startsLower(std::string_view word)
{
    const UChar32 c = firstCodePoint(word);
    return c >= 0 && u_islower(c);
}

icu::UnicodeString fromUtf8(std::string_view text)
{
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUtf8(const icu::UnicodeString& text)
{
    std::string result;
    text.toUTF8String(result);
    return result;
}

std::string lower(std::string_view word)
{
    return toUtf8(fromUtf8(word).toLower(spanishLocale()));
}

// `word` with its first letter in upper or lower case.
std::string withFirstLetter(std::string_view word, bool upper)
{
    std::size_t rest = 0;
    if (codePointAt(word, rest) < 0)
        return std::string(word);
    icu::UnicodeString first = fromUtf8(word.substr(0, rest));
    upper ? first.toUpper(spanishLocale()) : first.toLower(spanishLocale());
    return toUtf8(first) + std::string(word.substr(rest));
}

std::string capitalized(std::string_view word)
{
    return withFirstLetter(word, true);
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

// Whether `word` names a day or a month, in English or in Spanish.
bool namesDayOrMonth(std::string_view word)
{
    const std::string folded = lower(word);
    return nameOf(word) || std::any_of(names.begin(), names.end(), [&](const Name& name) {
               return folded == name.spanish || folded == std::string(name.spanish) + "s";
           });
}

// Quotes and brackets, by the mark that closes them.
constexpr std::array<std::pair<UChar32, UChar32>, 10> quotePairs{{
    {U'"', U'"'},
    {U'\'', U'\''},
    {U'»', U'«'},
    {U'”', U'“'},
    {U'’', U'‘'},
    {U'“', U'„'},
    {U'›', U'‹'},
    {U')', U'('},
    {U']', U'['},
    {U'}', U'{'},
}};

bool closesQuote(UChar32 c)
{
    return std::any_of(quotePairs.begin(), quotePairs.end(), [c](const auto& pair) { return pair.first == c; });
}

// The mark that closes what `c` opens, or none.
std::optional<UChar32> closerOf(UChar32 c)
{
    for (const auto& [closer, opener] : quotePairs)
        if (opener == c)
            return closer;
    return std::nullopt;
}

// Abbreviations, whose full stop ends no sentence: ICU's list for Spanish
// ("Sr.", "Dra.", "a. C."), and the English ones the recognizer writes and
// the translators pass on ("Dr. Smith", "St. Mary", "J. Smith"). "a.m." and
// "p.m." are not among them: before a word in lower case ICU's rule keeps
// the sentence going ("a las 5 p.m. ahora"), and before a capital they end
// one as often as not ("Llámame a las 5 p.m. ¿Está bien?"), unless the
// capital is a day's or a month's ("a las 5 p.m. Monday").
const std::set<std::string, std::less<>>& abbreviations()
{
    static const std::set<std::string, std::less<>> set = [] {
        std::set<std::string, std::less<>> result{"Mr.", "Mrs.", "Ms.",   "Dr.",   "Dra.", "St.",
                                                  "Sr.", "Sra.", "Srta.", "Prof.", "Jr."};
        for (char initial = 'A'; initial <= 'Z'; ++initial)
            result.insert(std::string{initial, '.'});
        UErrorCode status = U_ZERO_ERROR;
        UResourceBundle* bundle = ures_open(U_ICUDATA_NAME U_TREE_SEPARATOR_STRING "brkitr", "es", &status);
        UResourceBundle* exceptions = ures_getByKey(bundle, "exceptions", nullptr, &status);
        UResourceBundle* list = ures_getByKey(exceptions, "SentenceBreak", nullptr, &status);
        while (U_SUCCESS(status) && ures_hasNext(list)) {
            int32_t length = 0;
            const UChar* entry = ures_getNextString(list, &length, nullptr, &status);
            if (U_SUCCESS(status))
                result.insert(toUtf8(icu::UnicodeString(entry, length)));
        }
        ures_close(list);
        ures_close(exceptions);
        ures_close(bundle);
        // Words the translators write whole that ICU's list holds as
        // abbreviations too: "Bien. ¿Vienes?", "Vamos al mar. ¿Vienes?".
        for (const std::string_view word : {"Bien.", "mar.", "col.", "bol.", "Sol.", "RAM."})
            result.erase(std::string(word));
        return result;
    }();
    return set;
}

// Whether the full stop before the spaces that end at `at` closes an
// abbreviation of one or two words ("Sr.", "a. C."), after any opening
// quote or bracket.
bool endsAbbreviation(std::string_view text, std::size_t at)
{
    // The start of the run of non-spaces that ends at `end`.
    const auto wordStart = [&](std::size_t end) {
        for (std::size_t before = end; end > 0; end = before)
            if (const UChar32 c = codePointBefore(text, before); c >= 0 && u_isUWhiteSpace(c))
                break;
        return end;
    };
    std::size_t end = at;
    for (std::size_t before = end; end > 0; end = before)
        if (const UChar32 c = codePointBefore(text, before); !(c >= 0 && u_isUWhiteSpace(c)))
            break;
    if (end == at || end == 0 || text[end - 1] != '.')
        return false;
    std::size_t start = wordStart(end);
    // Past the quotes and brackets it opens with ("(Sr. López)").
    for (std::size_t next = start; start < end; start = next)
        if (const UChar32 c = codePointAt(text, next); !(c >= 0 && (closerOf(c) || c == U'¿' || c == U'¡')))
            break;
    const std::set<std::string, std::less<>>& known = abbreviations();
    const std::string_view word = text.substr(start, end - start);
    if (known.contains(word))
        return true;
    if (lower(word) == "a.m." || lower(word) == "p.m.") {
        std::size_t nameEnd = at;
        while (nameEnd < text.size()) {
            std::size_t after = nameEnd;
            if (!isLetter(codePointAt(text, after)))
                break;
            nameEnd = after;
        }
        return namesDayOrMonth(text.substr(at, nameEnd - at));
    }
    // Two words apart by one space ("a. C.").
    if (start < 2 || text[start - 1] != ' ')
        return false;
    const std::size_t first = wordStart(start - 1);
    return known.contains(text.substr(first, end - first));
}

// `text`'s sentences as [start, end) byte ranges by ICU's rule for Spanish,
// with no end after an abbreviation; none where ICU fails. One iterator per
// thread: a break iterator serves one text at a time.
std::vector<std::pair<std::size_t, std::size_t>> sentenceRanges(std::string_view text)
{
    thread_local const std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> created(
            icu::BreakIterator::createSentenceInstance(spanishLocale(), status));
        return U_SUCCESS(status) ? std::move(created) : nullptr;
    }();
    std::vector<std::pair<std::size_t, std::size_t>> ranges;
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    if (iterator && U_SUCCESS(status))
        iterator->setText(utext, status);
    utext_close(utext);
    if (!iterator || U_FAILURE(status))
        return ranges;
    auto start = static_cast<std::size_t>(iterator->first());
    for (int32_t end = iterator->next(); end != icu::BreakIterator::DONE; end = iterator->next()) {
        const auto at = static_cast<std::size_t>(end);
        if (at < text.size() && endsAbbreviation(text, at))
            continue;
        ranges.emplace_back(start, at);
        start = at;
    }
    return ranges;
}

// Calls `each(start, length)` for every word of `text`, and replaces it by
// what `each` returns, when it returns anything.
template <typename Each>
std::string rewriteWords(std::string_view text, Each each)
{
    std::string result;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t next = at;
        if (!isLetter(codePointAt(text, next))) {
            result += text.substr(at, next - at);
            at = next;
            continue;
        }
        std::size_t end = next;
        while (end < text.size()) {
            std::size_t after = end;
            if (!isLetter(codePointAt(text, after)))
                break;
            end = after;
        }
        const std::optional<std::string> replaced = each(text, at, end - at, result);
        result += replaced ? *replaced : std::string(text.substr(at, end - at));
        at = end;
    }
    return result;
}

// Whether `next` after text written so far would open a sentence: whether,
// were it capitalized, a sentence would start between the last letter or
// figure and it. The translators' marks and opening signs ("*", "¿", "«")
// stand before the word.
bool opensSentence(std::string_view written, std::string_view next)
{
    const std::string probe = std::string(written) + capitalized(next.empty() ? "x" : next);
    const auto word = written.size();
    std::size_t start = 0;
    for (const auto& [from, to] : sentenceRanges(probe))
        if (from <= word)
            start = from;
    for (std::size_t at = start; at < word;) {
        const UChar32 c = codePointAt(probe, at);
        if (c >= 0 && u_isalnum(c))
            return false;
    }
    return true;
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

// `word` in lower case without its accents ("Níger" -> "niger").
std::string folded(std::string_view word)
{
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* decomposition = icu::Normalizer2::getNFDInstance(status);
    icu::UnicodeString text = fromUtf8(word).foldCase();
    if (U_SUCCESS(status))
        text = decomposition->normalize(text, status);
    if (U_FAILURE(status))
        return lower(word);
    icu::UnicodeString result;
    for (int32_t at = 0; at < text.length(); at = text.moveIndex32(at, 1))
        if (const UChar32 c = text.char32At(at); (U_GET_GC_MASK(c) & U_GC_MN_MASK) == 0)
            result.append(c);
    return toUtf8(result);
}

// The word that ends `text` right before its run of spaces, or nothing
// where no word does.
std::optional<std::string> wordBeforeSpaces(std::string_view text)
{
    const auto last = text.find_last_not_of(' ');
    if (last == std::string_view::npos || last + 1 == text.size())
        return std::nullopt;
    std::size_t start = last + 1;
    while (start > 0) {
        std::size_t before = start;
        if (!isLetter(codePointBefore(text, before)))
            break;
        start = before;
    }
    if (start == last + 1)
        return std::nullopt;
    return std::string(text.substr(start, last + 1 - start));
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
        previous = startsUpper(word) ? word : std::string();
        if (!previous.empty())
            names.push_back(folded(word));
        previousEnd = at + length;
        return std::optional<std::string>();
    });
    return rewriteWords(spanish,
                        [&](std::string_view text, std::size_t at, std::size_t length,
                            const std::string& before) -> std::optional<std::string> {
                            const std::optional<std::string> name = wordBeforeSpaces(before);
                            if (!startsUpper(text.substr(at, length)) || !name)
                                return std::nullopt;
                            const bool lowerAfter =
                                std::any_of(followed.begin(), followed.end(), [&](const auto& pair) {
                                    return pair.first == *name && startsLower(pair.second);
                                });
                            const std::string_view word = text.substr(at, length);
                            if (!lowerAfter || std::find(names.begin(), names.end(), folded(word)) != names.end())
                                return std::nullopt;
                            return withFirstLetter(word, false);
                        });
}

// A title before a name is written in lower case inside a Spanish sentence
// ("con la señora Jackson", "el capitán Jackson"); the translators keep the
// English capital. A title is a Spanish one before any capitalized word, or
// whatever word the translators put before a name the source gives an
// English title ("Captain Jackson" -> "Capitán Jackson"). An abbreviation
// keeps its capital ("el Dr. Jackson").
std::string withTitlesInLowerCase(std::string_view english, std::string_view spanish)
{
    static constexpr std::array<std::string_view, 7> titles{"Señor",     "Señora", "Señorita", "Profesor",
                                                            "Profesora", "Doctor", "Doctora"};
    static constexpr std::array<std::string_view, 25> englishTitles{
        "mr",         "mrs",     "ms",        "miss",    "dr",        "doctor", "prof",     "professor", "sir",
        "madam",      "captain", "capt",      "father",  "president", "judge",  "general",  "colonel",   "sergeant",
        "lieutenant", "officer", "detective", "senator", "governor",  "mayor",  "reverend",
    };
    // The names the source gives a title, as it writes them, and its words:
    // a word it has is a name the translators passed on ("Nicholas
    // Jackson"), not a title they translated.
    std::vector<std::string> titled;
    std::vector<std::string> sourceWords;
    bool afterTitle = false;
    rewriteWords(english, [&](std::string_view text, std::size_t at, std::size_t length, const std::string&) {
        const std::string_view word = text.substr(at, length);
        sourceWords.push_back(folded(word));
        if (afterTitle && startsUpper(word))
            titled.emplace_back(word);
        afterTitle = std::find(englishTitles.begin(), englishTitles.end(), lower(word)) != englishTitles.end();
        return std::optional<std::string>();
    });
    return rewriteWords(
        spanish,
        [&](std::string_view text, std::size_t at, std::size_t length,
            const std::string& before) -> std::optional<std::string> {
            const std::string_view word = text.substr(at, length);
            const std::size_t next = at + length + 1;
            if (!startsUpper(word) || next >= text.size() || text[next - 1] != ' ' || !startsUpper(text.substr(next)))
                return std::nullopt;
            std::size_t nameEnd = next;
            while (nameEnd < text.size()) {
                std::size_t after = nameEnd;
                if (!isLetter(codePointAt(text, after)))
                    break;
                nameEnd = after;
            }
            const std::string_view name = text.substr(next, nameEnd - next);
            const bool title = std::find(titles.begin(), titles.end(), word) != titles.end()
                || (std::find(titled.begin(), titled.end(), name) != titled.end()
                    && std::find(sourceWords.begin(), sourceWords.end(), folded(word)) == sourceWords.end());
            if (!title || opensSentence(before, word))
                return std::nullopt;
            return lower(word);
        });
}

// Where the opening mark of the question or exclamation that ends at
// [marksStart, marksEnd) in the sentence from `start` goes: inside the
// quote or bracket that its closing mark closes ("Dijo «¿Vienes?»"), or
// else before the sentence's first word, inside the quotes and brackets it
// opens with that are still open at its end ("«¿Vienes?»", "(¿Vienes?)").
std::size_t questionStart(std::string_view text, std::size_t start, std::size_t marksStart, std::size_t marksEnd)
{
    const auto skipSpaces = [&](std::size_t at) {
        for (std::size_t next = at; at < marksStart; at = next)
            if (const UChar32 c = codePointAt(text, next); !(c >= 0 && u_isUWhiteSpace(c)))
                break;
        return at;
    };
    std::size_t after = marksEnd;
    if (const UChar32 closer = marksEnd < text.size() ? codePointAt(text, after) : -1; closesQuote(closer)) {
        const UChar32 opener = std::find_if(quotePairs.begin(), quotePairs.end(), [&](const auto& pair) {
                                   return pair.first == closer;
                               })->second;
        // Brackets nest; a quote mark that both opens and closes is taken
        // by the one before it, unless that one is an apostrophe ("it's").
        int depth = 0;
        for (std::size_t at = marksStart; at > start;) {
            const UChar32 c = codePointBefore(text, at);
            std::size_t previous = at;
            if (c == U'\'' && at > start && isLetter(codePointBefore(text, previous)))
                continue;
            if (c == opener) {
                if (depth == 0)
                    return skipSpaces(at + U8_LENGTH(c));
                --depth;
            } else if (c == closer) {
                ++depth;
            }
        }
    }
    std::size_t at = skipSpaces(start);
    while (at < marksStart) {
        std::size_t next = at;
        const UChar32 c = codePointAt(text, next);
        const std::optional<UChar32> closer = c >= 0 ? closerOf(c) : std::nullopt;
        if (!closer)
            break;
        bool closed = false;
        for (std::size_t inside = next; inside < marksStart && !closed;)
            closed = codePointAt(text, inside) == *closer;
        if (closed)
            break;
        at = skipSpaces(next);
    }
    return at;
}

}  // namespace

std::string englishSource(std::string_view english)
{
    return rewriteWords(english,
                        [](std::string_view text, std::size_t at, std::size_t length,
                           const std::string&) -> std::optional<std::string> {
                            const std::string_view word = text.substr(at, length);
                            const Name* name = nameOf(word);
                            if (!name || name->english == "march" || name->english == "may" || !startsLower(word))
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
            return opensSentence(before, *spanishName) ? capitalized(*spanishName) : *spanishName;
        });
    return withOpeningQuestionMarks(
        withDaysOfMonth(withTitlesInLowerCase(english, withoutCapitalsAfterNames(english, named))));
}

std::string withOpeningQuestionMarks(std::string_view spanish)
{
    // Where the opening marks go, and which: at most one insertion a sentence.
    std::vector<std::pair<std::size_t, std::string>> insertions;
    for (const auto& [start, end] : sentenceRanges(spanish)) {
        // The sentence's closing marks, before the spaces and closing
        // quotes or brackets after them ("Es tú?» ").
        std::size_t marksEnd = end;
        for (std::size_t at = marksEnd; at > start; marksEnd = at) {
            const UChar32 c = codePointBefore(spanish, at);
            if (!(c >= 0 && (u_isUWhiteSpace(c) || closesQuote(c))))
                break;
        }
        std::size_t marksStart = marksEnd;
        for (std::size_t at = marksStart; at > start; marksStart = at) {
            const UChar32 c = codePointBefore(spanish, at);
            if (c != '?' && c != '!')
                break;
        }
        if (marksStart == marksEnd)
            continue;
        // "?!" opens with "¡¿"; a mark the sentence has already is kept.
        const std::string_view body = spanish.substr(start, marksStart - start);
        std::string opening;
        for (std::size_t at = marksEnd; at > marksStart;) {
            const std::string_view mark = spanish[--at] == '?' ? "¿" : "¡";
            if (opening.find(mark) == std::string::npos && body.find(mark) == std::string_view::npos)
                opening += mark;
        }
        if (!opening.empty())
            insertions.emplace_back(questionStart(spanish, start, marksStart, marksEnd), std::move(opening));
    }
    std::string result;
    std::size_t from = 0;
    for (const auto& [at, marks] : insertions) {
        result += spanish.substr(from, at - from);
        result += marks;
        from = at;
    }
    result += spanish.substr(from);
    return result;
}

}  // namespace parlaro::sys::ApertiumSpanish
