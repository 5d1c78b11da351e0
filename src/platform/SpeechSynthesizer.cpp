#include "platform/SpeechSynthesizer.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <stdexcept>

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

std::atomic<SpeechSynthesizer*> installed{nullptr};

}  // namespace

namespace {

// No engine renders at one frame a second, so no end mark looks like this.
constexpr double failureMarkRate = 1;

}  // namespace

PcmBuffer renderFailureMark()
{
    return PcmBuffer(
        AudioFormat{
            .sampleRate = failureMarkRate, .channelCount = 1, .sampleType = SampleType::int16, .interleaved = true},
        0);
}

bool isRenderFailureMark(const PcmBuffer& buffer)
{
    return buffer.frameLength() == 0 && buffer.format().sampleRate == failureMarkRate;
}

SpeechSynthesizer& speechSynthesizer()
{
    SpeechSynthesizer* synthesizer = installed.load();
    if (synthesizer == nullptr) {
        throw std::logic_error("no speech synthesizer is installed");
    }
    return *synthesizer;
}

SpeechSynthesizerScope::SpeechSynthesizerScope(SpeechSynthesizer& synthesizer)
    : previous_(installed.exchange(&synthesizer))
{
}

SpeechSynthesizerScope::~SpeechSynthesizerScope()
{
    installed.store(previous_);
}

rt::Subscription SpeechSynthesizer::observeVoicesChanged(std::function<void()> observer)
{
    return voicesChanged_.subscribe(std::move(observer));
}

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

}  // namespace parlaro
