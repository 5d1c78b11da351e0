#include "platform/linux/apertium/ApertiumStream.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace parlaro::sys::ApertiumStream {

std::string validUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int64_t>(text.size());
    for (std::int64_t i = 0; i < length;) {
        const std::int64_t start = i;
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0)
            out += "\xEF\xBF\xBD";
        else
            out.append(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
    }
    return out;
}

bool isBlank(std::string_view text)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int64_t>(text.size());
    for (std::int64_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0 || (c != 0 && c != 0xFEFF && !u_isUWhiteSpace(c)))
            return false;
    }
    return true;
}

std::string encode(std::string_view input)
{
    const std::string valid = validUtf8(input);
    const std::string_view text = valid;
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        switch (c) {
        case '\\':
        case '[':
        case ']':
        case '^':
        case '$':
        case '/':
        case '@':
        case '<':
        case '>':
        case '{':
        case '}':
            out.push_back('\\');
            out.push_back(c);
            break;
        case '~':
            out += "[~]";
            break;
        case '\n':
        case '\r':
        case '\t':
        case '\0':
            out.push_back(' ');
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

std::string decode(std::string_view record)
{
    std::string out;
    out.reserve(record.size());
    for (std::size_t i = 0; i < record.size(); ++i) {
        char c = record[i];
        if (c == '\\' && i + 1 < record.size())
            out.push_back(record[++i]);
        else if (c != '[' && c != ']')
            out.push_back(c);
    }
    const auto first = out.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = out.find_last_not_of(" \t\r\n");
    return out.substr(first, last - first + 1);
}

namespace {

constexpr std::string_view closingMark = ".[]";

// Marks that end a sentence or a clause; two in a row say no more than one.
bool isSentenceMark(UChar32 c)
{
    switch (c) {
    case ',':
    case '.':
    case ';':
    case ':':
    case '!':
    case '?':
    case 0x3001:  // ideographic comma
    case 0x3002:  // ideographic full stop
    case 0xFF01:  // full-width exclamation mark
    case 0xFF0C:  // full-width comma
    case 0xFF0E:  // full-width full stop
    case 0xFF1A:  // full-width colon
    case 0xFF1B:  // full-width semicolon
    case 0xFF1F:  // full-width question mark
        return true;
    default:
        return false;
    }
}

// Marks that close what comes before them, so that a space before one is a
// gap rather than a word boundary.
bool isClosingMark(UChar32 c)
{
    // The ellipsis and the closing guillemet and double quotation mark too.
    return u_charType(c) == U_END_PUNCTUATION || isSentenceMark(c) || c == 0x2026 || c == 0x00BB || c == 0x201D;
}

// The source's white space as the translators see it (line breaks and tabs
// reach them as spaces).
bool isSourceSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

UChar32 codePointAt(std::string_view text, std::size_t at)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    auto i = static_cast<std::int64_t>(at);
    UChar32 c = 0;
    U8_NEXT(bytes, i, static_cast<std::int64_t>(text.size()), c);
    return c;
}

}  // namespace

std::string request(std::string_view text)
{
    std::string out = encode(text);
    out += closingMark;
    return out;
}

std::string answer(std::string_view record)
{
    // The last blank that is not escaped is the tag: an escaped bracket is
    // the text's own.
    std::size_t tag = std::string_view::npos;
    for (std::size_t i = 0; i + 1 < record.size(); ++i) {
        if (record[i] == '\\') {
            ++i;
            continue;
        }
        if (record[i] == '[' && record[i + 1] == ']')
            tag = i;
    }
    if (tag == std::string_view::npos)
        return decode(record);
    std::string untagged(record.substr(0, tag));
    // A full stop right before the tag is ours; the format never escapes one.
    if (!untagged.empty() && untagged.back() == '.')
        untagged.pop_back();
    untagged.append(record.substr(tag + 2));
    return decode(untagged);
}

std::string spacedLike(std::string_view source, std::string_view translation)
{
    std::size_t longestRun = 1;
    std::vector<UChar32> spacedMarks;  // closing marks the source puts a space before
    std::size_t run = 0;
    for (std::size_t i = 0; i < source.size(); ++i) {
        if (isSourceSpace(source[i])) {
            longestRun = std::max(longestRun, ++run);
            continue;
        }
        if (run > 0) {
            const UChar32 c = codePointAt(source, i);
            if (isClosingMark(c) && std::ranges::find(spacedMarks, c) == spacedMarks.end())
                spacedMarks.push_back(c);
        }
        run = 0;
    }

    std::string out;
    out.reserve(translation.size());
    for (std::size_t i = 0; i < translation.size();) {
        if (translation[i] != ' ') {
            out.push_back(translation[i++]);
            continue;
        }
        const std::size_t end = std::min(translation.find_first_not_of(' ', i), translation.size());
        const UChar32 next = end < translation.size() ? codePointAt(translation, end) : U_SENTINEL;
        const bool gapBeforeMark = isClosingMark(next) && std::ranges::find(spacedMarks, next) == spacedMarks.end();
        if (!gapBeforeMark) {
            out.append(std::min(end - i, longestRun), ' ');
            i = end;
            continue;
        }
        // A word dropped between two stops leaves both behind ("Oh. . Look"):
        // the second ends nothing the first did not.
        const std::size_t markLength = static_cast<std::size_t>(U8_LENGTH(next));
        const std::string_view mark = translation.substr(end, markLength);
        i = isSentenceMark(next) && out.ends_with(mark) ? end + markLength : end;
    }
    return out;
}

}  // namespace parlaro::sys::ApertiumStream
