#include "platform/SpeechSynthesizer.h"

#include <algorithm>
#include <cctype>

namespace parlaro {

namespace {

std::string normalizedTag(std::string_view tag)
{
    std::string out(tag);
    for (char& c : out) {
        c = c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string baseLanguage(std::string_view tag)
{
    std::string normalized = normalizedTag(tag);
    return normalized.substr(0, normalized.find('-'));
}

} // namespace

std::optional<SynthesisVoice> SpeechSynthesizer::voice(std::string_view identifier)
{
    for (auto& candidate : voices()) {
        if (candidate.identifier == identifier) {
            return candidate;
        }
    }
    return std::nullopt;
}

std::optional<SynthesisVoice> SpeechSynthesizer::voiceForLanguage(std::string_view language)
{
    auto all = voices();
    std::sort(all.begin(), all.end(),
              [](const SynthesisVoice& a, const SynthesisVoice& b) { return a.identifier < b.identifier; });
    const std::string wanted = normalizedTag(language);
    for (auto& candidate : all) {
        if (normalizedTag(candidate.language) == wanted) {
            return candidate;
        }
    }
    const std::string base = baseLanguage(language);
    for (auto& candidate : all) {
        if (!base.empty() && baseLanguage(candidate.language) == base) {
            return candidate;
        }
    }
    return std::nullopt;
}

} // namespace parlaro
