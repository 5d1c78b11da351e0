#include "model/MessageCode.h"

#include <string_view>

namespace parlaro {

namespace {

// The brackets a code stands in: full-width where the interface language
// writes them so, ASCII elsewhere ("… (SR-5)").
constexpr std::string_view brackets[][2] = {{"（", "）"}, {"(", ")"}};

// Upper-case ASCII letters, a hyphen, ASCII digits: nothing else, so a
// full-width digit or a lower-case code is no code.
bool isModuleCode(std::string_view text)
{
    const std::size_t hyphen = text.find('-');
    if (hyphen == std::string_view::npos || hyphen == 0 || hyphen + 1 == text.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool fits = i < hyphen ? (c >= 'A' && c <= 'Z') : i == hyphen || (c >= '0' && c <= '9');
        if (!fits)
            return false;
    }
    return true;
}

}  // namespace

std::optional<std::string> splitMessageCode(const std::optional<std::string>& text)
{
    if (!text)
        return std::nullopt;
    const std::string_view whole = *text;
    // The closing bracket that comes last, and the opening one of its kind
    // before it.
    std::optional<std::string_view> candidate;
    std::size_t lastClose = 0;
    for (const auto& [openBracket, closeBracket] : brackets) {
        const std::size_t close = whole.rfind(closeBracket);
        if (close == std::string_view::npos || (close < lastClose))
            continue;
        lastClose = close;
        const std::size_t open = whole.rfind(openBracket, close);
        candidate = open == std::string_view::npos
            ? std::nullopt
            : std::optional(whole.substr(open + openBracket.size(), close - open - openBracket.size()));
    }
    if (!candidate || !isModuleCode(*candidate))
        return std::nullopt;
    return std::string(*candidate);
}

bool carriesCodePrefix(std::string_view text, std::string_view prefix)
{
    for (const auto& [openBracket, closeBracket] : brackets) {
        if (text.find(std::string(openBracket) + std::string(prefix)) != std::string_view::npos)
            return true;
    }
    return false;
}

}  // namespace parlaro
