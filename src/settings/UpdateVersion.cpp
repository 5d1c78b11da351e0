#include "settings/UpdateVersion.h"

#include <charconv>
#include <cstdint>
#include <vector>

namespace parlaro::settings {

namespace {

std::vector<std::string_view> pieces(std::string_view text, bool keepEmpty)
{
    std::vector<std::string_view> result;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = text.find('.', start);
        const std::string_view piece = text.substr(start, dot == std::string_view::npos ? text.npos : dot - start);
        if (keepEmpty || !piece.empty())
            result.push_back(piece);
        if (dot == std::string_view::npos)
            return result;
        start = dot + 1;
    }
}

std::uint64_t number(std::string_view piece)
{
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
    if (error != std::errc() || end != piece.data() + piece.size())
        return 0;
    return value;
}

}  // namespace

bool versionIsValid(std::string_view version)
{
    const auto parts = pieces(version, true);
    if (parts.empty() || parts.size() > 4)
        return false;
    for (std::string_view piece : parts) {
        if (piece.empty() || piece.size() > 6)
            return false;
        for (char c : piece) {
            if (c < '0' || c > '9')
                return false;
        }
    }
    return true;
}

bool isVersionNewer(std::string_view version, std::string_view than)
{
    const auto left = pieces(version, false);
    const auto right = pieces(than, false);
    const std::size_t count = std::max(left.size(), right.size());
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t a = i < left.size() ? number(left[i]) : 0;
        const std::uint64_t b = i < right.size() ? number(right[i]) : 0;
        if (a != b)
            return a > b;
    }
    return false;
}

}  // namespace parlaro::settings
