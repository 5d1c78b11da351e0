#include "platform/linux/apertium/ApertiumStream.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>

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

}  // namespace parlaro::sys::ApertiumStream
