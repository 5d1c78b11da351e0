#include "platform/linux/espeak/EspeakSpeechSynthesizer.h"

#include <espeak-ng/speak_lib.h>
#include <unicode/uloc.h>

#include <algorithm>
#include <cctype>
#include <cmath>

// Shared by the program and its voice process, which names the voices it
// finds.
namespace parlaro::sys {

namespace {

std::string lowercase(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::vector<std::string> subtags(const std::string& tag)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= tag.size()) {
        const std::size_t end = std::min(tag.find('-', start), tag.size());
        parts.push_back(tag.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool isAlpha(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isalpha(c); });
}
bool isDigits(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}
bool isRegion(const std::string& s)
{
    return (s.size() == 2 && isAlpha(s)) || (s.size() == 3 && isDigits(s));
}
bool isScript(const std::string& s)
{
    return s.size() == 4 && isAlpha(s);
}

std::string likelyRegion(const std::string& languageAndScript)
{
    char maximal[ULOC_FULLNAME_CAPACITY] = {};
    UErrorCode status = U_ZERO_ERROR;
    uloc_addLikelySubtags(languageAndScript.c_str(), maximal, sizeof maximal, &status);
    if (U_FAILURE(status)) {
        return {};
    }
    char country[ULOC_COUNTRY_CAPACITY] = {};
    status = U_ZERO_ERROR;
    uloc_getCountry(maximal, country, sizeof country, &status);
    return U_FAILURE(status) ? std::string() : std::string(country);
}

}  // namespace

int EspeakSpeechSynthesizer::wordsPerMinute(float rate)
{
    if (!std::isfinite(rate)) {
        return espeakRATE_NORMAL;
    }
    const double r = std::clamp(double(rate), 0.0, 1.0);
    const double wpm = r <= 0.5 ? espeakRATE_MINIMUM + (r / 0.5) * (espeakRATE_NORMAL - espeakRATE_MINIMUM)
                                : espeakRATE_NORMAL + ((r - 0.5) / 0.5) * (espeakRATE_MAXIMUM - espeakRATE_NORMAL);
    return static_cast<int>(std::lround(wpm));
}

std::string EspeakSpeechSynthesizer::languageTag(const std::string& primary, const std::vector<std::string>& others)
{
    auto parts = subtags(lowercase(primary));
    // The Chinese voices are named by spoken language; the "latn" qualifiers
    // say how Latin letters are read, not what the voice speaks.
    if (parts[0] == "cmn") {
        return "zh-CN";
    }
    if (parts[0] == "yue") {
        return "zh-HK";
    }
    const bool hasRegion = std::any_of(parts.begin() + 1, parts.end(), isRegion);
    if (!hasRegion) {
        for (const auto& other : others) {
            auto otherParts = subtags(lowercase(other));
            if (otherParts.size() == 2 && otherParts[0] == parts[0] && isRegion(otherParts[1])) {
                parts.push_back(otherParts[1]);
                break;
            }
        }
    }
    std::string tag = parts[0];
    std::string languageAndScript = parts[0];
    bool privateUse = false;
    bool regionSeen = false;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        std::string part = parts[i];
        if (part == "x") {
            privateUse = true;
        }
        if (!privateUse && !regionSeen && isRegion(part)) {
            std::transform(part.begin(), part.end(), part.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
            regionSeen = true;
        } else if (!privateUse && isScript(part)) {
            part[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(part[0])));
            if (!regionSeen) {
                languageAndScript += "-" + part;
            }
        }
        tag += "-" + part;
    }
    if (!regionSeen) {
        const std::string region = likelyRegion(languageAndScript);
        if (!region.empty()) {
            tag.insert(languageAndScript.size(), "-" + region);
        }
    }
    return tag;
}

}  // namespace parlaro::sys
