#pragma once

#include "platform/PcmBuffer.h"
#include "platform/SpeechSynthesizer.h"
#include "runtime/Observable.h"
#include "speech/CallLanguage.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parlaro {

// One synthesis voice offered for a call language, with its picker label.
// Also home of the voice catalogue: which installed voices suit a language,
// best first; the fallback voice; the one float format rendered speech is
// kept in.
struct VoiceOption {
    std::string id;
    std::string label;
    // 1 default, 2 enhanced, 3 premium.
    std::int64_t quality = SynthesisVoice::defaultQuality;
    std::string name;
    std::string language;

    bool operator==(const VoiceOption&) const = default;

    // Among voices of equal quality and language fit, names beginning with
    // these come first, in this order.
    static constexpr std::array<std::string_view, 6> preferredNamePrefixes{"Ava",    "Zoe",      "Evan",
                                                                           "Nathan", "Samantha", "Alex"};

    // The installed voices (the process-wide synthesizer's) that speak one of
    // the language's voice locales, best first.
    static std::vector<VoiceOption> voices(const CallLanguage& language);
    static std::vector<VoiceOption> voices(const CallLanguage& language, SpeechSynthesizer& synthesizer);
    static std::vector<VoiceOption> voices(const CallLanguage& language, const std::vector<SynthesisVoice>& installed);

    // Whether a voice language fits a voice locale: equal, or the locale is a
    // bare language ("en") and the voice language is that language with a
    // qualifier ("en-GB").
    static bool matches(std::string_view voiceLanguage, std::string_view locale);
    // The text a picker shows: the name; for enhanced and premium voices
    // without a trailing bracketed remark and with a quality note.
    static std::string labelOf(const SynthesisVoice& voice);
    // The best English voice, else the synthesizer's "en-US" voice; none when
    // the synthesizer has no English at all.
    static std::optional<SynthesisVoice> fallbackVoice(SpeechSynthesizer& synthesizer);
    // Deinterleaved 32-bit float at the buffer's own rate and channel count;
    // such a buffer comes back as it is. None when it cannot be converted.
    static std::optional<PcmBuffer> toStandardFloat(const PcmBuffer& buffer);
    // Calls `observer` on the main actor when the installed voices change.
    static rt::Subscription observeVoicesChanged(std::function<void()> observer);
};

}  // namespace parlaro
