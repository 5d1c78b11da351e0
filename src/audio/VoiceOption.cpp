#include "audio/VoiceOption.h"

#include "speech/InterfaceLanguage.h"
#include "speech/Localization.h"

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <algorithm>
#include <memory>

namespace parlaro {

namespace {

// The fixed English row the fallback voice is chosen from.
CallLanguage fallbackEnglish()
{
    return CallLanguage{"en", "EN", "en-US", {"en-US", "en"}, "Hello, this is a preview of my voice."};
}

std::size_t nameRank(const std::string& name)
{
    const auto& prefixes = VoiceOption::preferredNamePrefixes;
    for (std::size_t i = 0; i < prefixes.size(); ++i) {
        if (std::string_view(name).starts_with(prefixes[i])) {
            return i;
        }
    }
    return prefixes.size();
}

bool isOpening(std::string_view text, std::size_t at, std::size_t& length)
{
    if (text.substr(at, 1) == "(") {
        length = 1;
        return true;
    }
    if (text.substr(at, 3) == "（") {
        length = 3;
        return true;
    }
    return false;
}

bool containsBracket(std::string_view text)
{
    return text.find_first_of("()") != std::string_view::npos || text.find("（") != std::string_view::npos
        || text.find("）") != std::string_view::npos;
}

// Length of the whitespace character ending at `end`, 0 when there is none.
std::size_t trailingSpace(std::string_view text, std::size_t end)
{
    if (end >= 1) {
        const char c = text[end - 1];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
            return 1;
        }
    }
    if (end >= 2 && text.substr(end - 2, 2) == "\u00A0") {
        return 2;
    }
    if (end >= 3 && text.substr(end - 3, 3) == "\u3000") {
        return 3;
    }
    return 0;
}

// The name without a trailing bracketed remark and the blanks before it;
// the remark may not itself hold a bracket.
std::string withoutTrailingRemark(const std::string& name)
{
    std::string_view text(name);
    std::size_t closeLength = 0;
    if (text.ends_with(")")) {
        closeLength = 1;
    } else if (text.ends_with("）")) {
        closeLength = 3;
    } else {
        return name;
    }
    const std::size_t closeAt = text.size() - closeLength;
    for (std::size_t at = closeAt; at-- > 0;) {
        std::size_t openLength = 0;
        if (!isOpening(text, at, openLength)) {
            continue;
        }
        if (containsBracket(text.substr(at + openLength, closeAt - at - openLength))) {
            return name;
        }
        std::size_t end = at;
        while (std::size_t space = trailingSpace(text, end)) {
            end -= space;
        }
        return std::string(text.substr(0, end));
    }
    return name;
}

}  // namespace

bool VoiceOption::matches(std::string_view voiceLanguage, std::string_view locale)
{
    if (voiceLanguage == locale) {
        return true;
    }
    return locale.find('-') == std::string_view::npos && voiceLanguage.size() > locale.size()
        && voiceLanguage.starts_with(locale) && voiceLanguage[locale.size()] == '-';
}

std::string VoiceOption::labelOf(const SynthesisVoice& voice)
{
    if (voice.quality == SynthesisVoice::defaultQuality) {
        return voice.name;
    }
    const std::string name = withoutTrailingRemark(voice.name);
    if (voice.quality == SynthesisVoice::premium) {
        return localized("%@（高音质）", name);
    }
    if (voice.quality == SynthesisVoice::enhanced) {
        return localized("%@（优化音质）", name);
    }
    return name;
}

std::vector<VoiceOption> VoiceOption::voices(const CallLanguage& language)
{
    return voices(language, speechSynthesizer());
}

std::vector<VoiceOption> VoiceOption::voices(const CallLanguage& language, SpeechSynthesizer& synthesizer)
{
    return voices(language, synthesizer.voices());
}

std::vector<VoiceOption> VoiceOption::voices(const CallLanguage& language, const std::vector<SynthesisVoice>& installed)
{
    std::vector<SynthesisVoice> kept;
    for (const auto& voice : installed) {
        const bool fits = std::any_of(language.voiceLocales.begin(), language.voiceLocales.end(),
                                      [&](const std::string& locale) { return matches(voice.language, locale); });
        if (fits) {
            kept.push_back(voice);
        }
    }

    const std::string preferred = language.voiceLocales.empty() ? std::string() : language.voiceLocales.front();
    UErrorCode status = U_ZERO_ERROR;
    // Names are compared as the user's language sorts them.
    const icu::Locale locale = icu::Locale::forLanguageTag(InterfaceLanguage::current(), status);
    std::unique_ptr<icu::Collator> collator(U_SUCCESS(status) ? icu::Collator::createInstance(locale, status)
                                                              : nullptr);
    if (collator && U_SUCCESS(status)) {
        // Finder-like order: case-blind, digits by value.
        collator->setStrength(icu::Collator::SECONDARY);
        collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
    } else {
        collator.reset();
    }
    auto before = [&](const SynthesisVoice& a, const SynthesisVoice& b) {
        if (a.quality != b.quality) {
            return a.quality > b.quality;
        }
        const bool aPreferred = a.language == preferred;
        const bool bPreferred = b.language == preferred;
        if (aPreferred != bPreferred) {
            return aPreferred;
        }
        const std::size_t aRank = nameRank(a.name);
        const std::size_t bRank = nameRank(b.name);
        if (aRank != bRank) {
            return aRank < bRank;
        }
        if (a.isSystemVoice != b.isSystemVoice) {
            return a.isSystemVoice;
        }
        if (a.language != b.language) {
            return a.language < b.language;
        }
        if (collator) {
            UErrorCode compareStatus = U_ZERO_ERROR;
            const auto order = collator->compareUTF8(a.name, b.name, compareStatus);
            if (U_SUCCESS(compareStatus)) {
                return order == UCOL_LESS;
            }
        }
        return a.name < b.name;
    };
    std::stable_sort(kept.begin(), kept.end(), before);

    std::vector<VoiceOption> options;
    options.reserve(kept.size());
    for (const auto& voice : kept) {
        options.push_back(VoiceOption{voice.identifier, labelOf(voice), voice.quality, voice.name, voice.language});
    }
    return options;
}

std::optional<SynthesisVoice> VoiceOption::fallbackVoice(SpeechSynthesizer& synthesizer)
{
    auto english = voices(fallbackEnglish(), synthesizer);
    if (!english.empty()) {
        if (auto voice = synthesizer.voice(english.front().id)) {
            return voice;
        }
    }
    return synthesizer.voiceForLanguage("en-US");
}

std::optional<PcmBuffer> VoiceOption::toStandardFloat(const PcmBuffer& buffer)
{
    const AudioFormat& from = buffer.format();
    if (from.sampleType == SampleType::float32 && !from.interleaved) {
        return buffer;
    }
    const AudioFormat standard{.sampleRate = from.sampleRate,
                               .channelCount = from.channelCount,
                               .sampleType = SampleType::float32,
                               .interleaved = false};
    if (!standard.isValid()) {
        return std::nullopt;
    }
    PcmBuffer out(standard, buffer.frameLength());
    out.setFrameLength(buffer.frameLength());
    for (std::uint32_t channel = 0; channel < standard.channelCount; ++channel) {
        float* target = out.floatChannelData(channel);
        for (std::size_t frame = 0; frame < buffer.frameLength(); ++frame) {
            target[frame] = buffer.floatSample(frame, channel);
        }
    }
    return out;
}

rt::Subscription VoiceOption::observeVoicesChanged(std::function<void()> observer)
{
    return speechSynthesizer().observeVoicesChanged(std::move(observer));
}

}  // namespace parlaro
