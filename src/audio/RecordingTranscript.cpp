#include "audio/RecordingTranscript.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>

namespace parlaro {

namespace {

// White space and new lines: the separators and the controls that break
// lines.
bool isTrimmable(UChar32 c)
{
    if ((c >= 0x09 && c <= 0x0D) || c == 0x85)
        return true;
    const std::int8_t type = u_charType(c);
    return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

bool isLeadingSeparator(UChar32 c)
{
    switch (c) {
    case U',':
    case U'.':
    case U'，':
    case U'、':
    case U'。':
    case U'…':
    case U';':
    case U'；':
    case U':':
    case U'：':
        return true;
    default:
        return u_isUWhiteSpace(c);
    }
}

// Where the text begins once every leading character `skip` accepts is gone.
template <class Skip>
std::size_t skipLeading(const std::string& text, Skip skip)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t offset = 0;
    while (offset < length) {
        std::int32_t next = offset;
        UChar32 c;
        U8_NEXT(bytes, next, length, c);
        if (c < 0 || !skip(c))
            break;
        offset = next;
    }
    return static_cast<std::size_t>(offset);
}

}  // namespace

std::string RecordingTranscript::trimmed(const std::string& text)
{
    const std::size_t begin = skipLeading(text, isTrimmable);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    auto end = static_cast<std::int32_t>(text.size());
    while (end > static_cast<std::int32_t>(begin)) {
        std::int32_t previous = end;
        UChar32 c;
        U8_PREV(bytes, static_cast<std::int32_t>(begin), previous, c);
        if (c < 0 || !isTrimmable(c))
            break;
        end = previous;
    }
    return text.substr(begin, static_cast<std::size_t>(end) - begin);
}

std::string RecordingTranscript::sentence(const std::string& text)
{
    return trimmed(text.substr(skipLeading(text, isLeadingSeparator)));
}

}  // namespace parlaro
