#include "platform/JsonInput.h"

namespace parlaro {

bool jsonNestsWithin(std::string_view text, std::size_t limit)
{
    std::size_t depth = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        switch (text[at]) {
        case '"':
            // Brackets inside a string are text. An escape covers the byte
            // after the backslash, so \" does not end the string.
            for (++at; at < text.size() && text[at] != '"'; ++at) {
                if (text[at] == '\\')
                    ++at;
            }
            break;
        case '[':
        case '{':
            if (++depth > limit)
                return false;
            break;
        case ']':
        case '}':
            if (depth > 0)
                --depth;
            break;
        case '\0':
            // The parser takes a NUL between tokens for the end of the text
            // (a file's zero-filled tail after a crash reads as what came
            // before it), so nothing after it is ever nested.
            return true;
        default:
            break;
        }
    }
    return true;
}

std::optional<nlohmann::json> parseJsonInput(std::string_view text)
{
    if (!jsonNestsWithin(text))
        return std::nullopt;
    nlohmann::json parsed = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (parsed.is_discarded())
        return std::nullopt;
    return parsed;
}

}  // namespace parlaro
