#include "platform/SpeechRecognizer.h"

#include <unicode/uchar.h>

#include <cctype>
#include <unicode/utf8.h>

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

std::string withinSentence(const std::string& text, bool english)
{
    std::size_t start = 0;
    while (start < text.size() && text[start] == ' ')
        ++start;
    const std::string_view first = std::string_view(text).substr(start, text.find(' ', start) - start);
    const bool pronoun =
        first.starts_with("I") && (first.size() == 1 || !std::isalpha(static_cast<unsigned char>(first[1])));
    if (english && pronoun)
        return text;
    return withFirstLetter(text, false);
}

std::string asSentenceStart(const std::string& text)
{
    return withFirstLetter(text, true);
}

}  // namespace parlaro
