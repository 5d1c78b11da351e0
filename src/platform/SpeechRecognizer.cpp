#include "platform/SpeechRecognizer.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <fstream>
#include <iterator>
#include <string>
#include <unicode/utf8.h>
#include <unordered_set>

namespace parlaro {

std::int64_t utf16Length(std::string_view text)
{
    std::int64_t units = 0;
    for (std::size_t i = 0; i < text.size();) {
        auto lead = static_cast<unsigned char>(text[i]);
        std::size_t bytes = 1;
        if (lead >= 0xF0 && lead < 0xF8)
            bytes = 4;
        else if (lead >= 0xE0 && lead < 0xF0)
            bytes = 3;
        else if (lead >= 0xC0 && lead < 0xE0)
            bytes = 2;
        if (i + bytes > text.size())
            bytes = 1;
        // Characters outside the Basic Multilingual Plane take a surrogate pair.
        units += bytes == 4 ? 2 : 1;
        i += bytes;
    }
    return units;
}

Transcription makeTranscription(std::string text, const std::vector<std::string>& words)
{
    Transcription transcription;
    std::size_t from = 0;
    for (const auto& word : words) {
        if (word.empty())
            continue;
        auto at = text.find(word, from);
        if (at == std::string::npos)
            continue;
        auto location = utf16Length(std::string_view(text).substr(0, at));
        transcription.segments.push_back(TranscriptionSegment{word, TextRange{location, utf16Length(word)}});
        from = at + word.size();
    }
    transcription.formattedString = std::move(text);
    return transcription;
}

namespace {

// The text with the first letter after any leading spaces in upper or lower
// case.
std::string withFirstLetter(const std::string& text, bool upper)
{
    std::size_t start = 0;
    while (start < text.size() && text[start] == ' ')
        ++start;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    auto end = static_cast<std::int32_t>(start);
    UChar32 c = 0;
    U8_NEXT(bytes, end, length, c);
    if (c < 0)
        return text;
    const UChar32 cased = upper ? u_toupper(c) : u_tolower(c);
    if (cased == c)
        return text;
    std::uint8_t encoded[U8_MAX_LENGTH];
    std::int32_t size = 0;
    UBool failed = false;
    U8_APPEND(encoded, size, U8_MAX_LENGTH, cased, failed);
    if (failed)
        return text;
    return text.substr(0, start) + std::string(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(size))
        + text.substr(static_cast<std::size_t>(end));
}

}  // namespace

namespace {

// Where Debian's word list of American English lies (package wamerican).
constexpr const char* englishWordList = "/usr/share/dict/american-english";

// The words (in lower case) the word list writes only with a capital:
// names of people, places and peoples ("Nicholas", "Chicago", "Niger").
// Those it also writes in lower case ("bill", "mark", "may") are ordinary
// words too, and all-capital or mixed spellings ("TV", "McDonald") are
// left alone; so are words of two letters, mostly symbols ("Pm", "Co").
std::atomic<bool> wordListRead{false};

const std::unordered_set<std::string>& onlyCapitalized()
{
    static const std::unordered_set<std::string> names = [] {
        std::unordered_set<std::string> capitalized;
        std::unordered_set<std::string> lowered;
        std::ifstream list(englishWordList);
        for (std::string line; std::getline(list, line);) {
            if (line.size() < 3 || !std::all_of(line.begin(), line.end(), [](char c) {
                    return std::isalpha(static_cast<unsigned char>(c)) || c == '\'';
                }))
                continue;
            const bool lowerRest = std::none_of(line.begin() + 1, line.end(),
                                                [](char c) { return std::isupper(static_cast<unsigned char>(c)); });
            if (std::isupper(static_cast<unsigned char>(line[0])) && lowerRest) {
                line[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
                capitalized.insert(std::move(line));
            } else if (std::islower(static_cast<unsigned char>(line[0])) && lowerRest) {
                lowered.insert(std::move(line));
            }
        }
        std::erase_if(capitalized, [&](const std::string& word) { return lowered.contains(word); });
        wordListRead = true;
        return capitalized;
    }();
    return names;
}

}  // namespace

void readEnglishWordList()
{
    onlyCapitalized();
}

bool englishWordListRead()
{
    return wordListRead;
}

bool capitalizedInEnglish(std::string_view word)
{
    // The translator takes a day in lower case for a word it does not know
    // and leaves it in English ("en monday"), and a month for the common
    // word spelt alike ("march", "marcha").
    static constexpr std::string_view names[] = {"monday", "tuesday", "wednesday", "thursday", "friday",   "saturday",
                                                 "sunday", "january", "february",  "march",    "april",    "june",
                                                 "july",   "august",  "september", "october",  "november", "december"};
    const auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    const auto is = [&](std::string_view a, std::string_view b) {
        return a.size() == b.size()
            && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
    };
    // "monday's", "i'm": what stands before the apostrophe decides.
    const std::string_view stem = word.substr(0, word.find('\''));
    // Titles before a name ("Mr Jackson"); the word list has them in lower
    // case too, or not at all.
    for (const std::string_view title : {"i", "mr", "mrs", "ms", "dr"})
        if (is(stem, title))
            return true;
    if (std::any_of(std::begin(names), std::end(names), [&](std::string_view name) {
            return is(stem, name)
                || (stem.size() == name.size() + 1 && is(stem.substr(0, name.size()), name)
                    && lower(stem.back()) == 's');
        }))
        return true;
    std::string folded(stem);
    std::transform(folded.begin(), folded.end(), folded.begin(), lower);
    return onlyCapitalized().contains(folded);
}

std::string withinSentence(const std::string& text, bool english)
{
    std::size_t start = 0;
    while (start < text.size() && text[start] == ' ')
        ++start;
    const std::string_view first = std::string_view(text).substr(start, text.find(' ', start) - start);
    if (english && capitalizedInEnglish(first))
        return text;
    return withFirstLetter(text, false);
}

std::string asSentenceStart(const std::string& text)
{
    return withFirstLetter(text, true);
}

}  // namespace parlaro
