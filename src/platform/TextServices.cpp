#include "platform/TextServices.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace parlaro {
namespace {

struct Subtags {
    std::string language;
    std::string script;
    std::string region;
};

std::string normalized(std::string_view tag)
{
    std::string result(tag);
    std::replace(result.begin(), result.end(), '_', '-');
    std::transform(result.begin(), result.end(), result.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return result;
}

bool isAlpha(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)); });
}

bool isDigits(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// Language, script and region of a tag; variants and extensions are ignored.
Subtags subtagsOf(std::string_view tag)
{
    const std::string text = normalized(tag);
    Subtags subtags;
    std::size_t start = 0;
    bool first = true;
    while (start <= text.size()) {
        std::size_t end = text.find('-', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string_view part = std::string_view(text).substr(start, end - start);
        if (first) {
            subtags.language = part;
            first = false;
        } else if (part.size() == 1) {
            break;  // an extension or private use follows
        } else if (subtags.script.empty() && subtags.region.empty() && part.size() == 4 && isAlpha(part)) {
            subtags.script = part;
        } else if (subtags.region.empty()
                   && ((part.size() == 2 && isAlpha(part)) || (part.size() == 3 && isDigits(part)))) {
            subtags.region = part;
        }
        start = end + 1;
    }
    return subtags;
}

}  // namespace

std::vector<std::string> TextServices::preferredLocalizations(const std::vector<std::string>& available,
                                                              const std::vector<std::string>& preferences) const
{
    for (const std::string& preference : preferences) {
        const std::string wanted = normalized(preference);
        if (wanted.empty()) {
            continue;
        }
        for (const std::string& candidate : available) {
            if (normalized(candidate) == wanted) {
                return {candidate};
            }
        }

        const Subtags target = subtagsOf(maximalIdentifier(preference));
        std::optional<std::string> defaultRegion;
        const std::string* best = nullptr;
        int bestRank = 4;
        for (const std::string& candidate : available) {
            const Subtags full = subtagsOf(maximalIdentifier(candidate));
            if (full.language != target.language || full.script != target.script) {
                continue;
            }
            const Subtags written = subtagsOf(candidate);
            int rank = 3;
            if (!written.region.empty() && written.region == target.region) {
                rank = 0;
            } else if (written.region.empty()) {
                rank = 1;
            } else {
                if (!defaultRegion) {
                    defaultRegion = subtagsOf(maximalIdentifier(target.language + "-" + target.script)).region;
                }
                if (written.region == *defaultRegion) {
                    rank = 2;
                }
            }
            if (rank < bestRank) {
                bestRank = rank;
                best = &candidate;
            }
        }
        if (best != nullptr) {
            return {*best};
        }
    }
    return {};
}

}  // namespace parlaro
