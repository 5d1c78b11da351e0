#pragma once

#include "platform/PcmBuffer.h"
#include "runtime/Observable.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parlaro {

// One installed synthesis voice.
struct SynthesisVoice {
    enum Quality : std::int64_t { defaultQuality = 1, enhanced = 2, premium = 3 };

    // Stable across runs; what a user's voice choice stores.
    std::string identifier;
    // The voice's own name, as a picker shows it.
    std::string name;
    // BCP-47 tag of the language the voice speaks ("en-US", "de-DE").
    std::string language;
    std::int64_t quality = defaultQuality;
    // One of the platform's own standard voices, as opposed to an add-on
    // (a novelty voice, an external voice database); pickers rank these first.
    bool isSystemVoice = true;

    bool operator==(const SynthesisVoice&) const = default;
};

// One text to speak and how.
struct Utterance {
    std::string text;
    // None: the synthesizer's own default voice.
    std::optional<SynthesisVoice> voice;
    // 0 slowest, 0.5 the normal pace, 1 fastest.
    float rate = 0.5f;
    // Silence added after the speech.
    double postUtteranceDelay = 0;
};

// Text-to-speech that renders into PCM buffers instead of a loudspeaker.
//
// Buffers reach the callback in order on the synthesizer's own thread (never
// inline in write()). A buffer with 0 frames marks the end of a render; after
// it nothing more arrives for that render. A stopped render gets no end mark:
// whoever stops it settles its waiter. A buffer may already be on its way when
// a stop returns, so callers tolerate one late buffer. A render the engine
// could not finish (it failed part way) ends with a failure mark instead of
// the end mark: what came before it is not the whole reply.
class SpeechSynthesizer {
public:
    using RenderID = std::uint64_t;
    using BufferCallback = std::function<void(const PcmBuffer& buffer)>;

    virtual ~SpeechSynthesizer() = default;

    // Every voice this synthesizer can speak with, in no particular order.
    virtual std::vector<SynthesisVoice> voices() = 0;

    // The voice with this identifier, if installed.
    std::optional<SynthesisVoice> voice(std::string_view identifier);
    // The voice to use for a language: one whose language equals the tag
    // (ignoring case and "_" vs "-"), else one of the same base language,
    // lowest-sorting identifier first so the choice is stable; none when the
    // language has no voice at all.
    std::optional<SynthesisVoice> voiceForLanguage(std::string_view language);

    // Starts rendering; renders queue behind each other. Throws an Error when
    // the render cannot be started at all.
    virtual RenderID write(const Utterance& utterance, BufferCallback onBuffer) = 0;
    // Ends one render at once, whether it is queued or under way.
    virtual void stopRender(RenderID render) = 0;
    // Ends every render at once.
    virtual void stopSpeaking() = 0;

    // Calls `observer` on the main actor whenever the installed voices
    // change, while the subscription is kept.
    rt::Subscription observeVoicesChanged(std::function<void()> observer);

protected:
    // Main actor only.
    void voicesChanged() const { voicesChanged_.notify(); }

private:
    rt::ObservationHub voicesChanged_;
};

// The mark that ends a render its engine could not finish, and the test for it.
PcmBuffer renderFailureMark();
bool isRenderFailureMark(const PcmBuffer& buffer);

// The process-wide synthesizer, whose voices are "the installed voices";
// throws std::logic_error when none is installed.
SpeechSynthesizer& speechSynthesizer();

// Installs a synthesizer for the lifetime of the scope, restoring the
// previous one afterwards.
class SpeechSynthesizerScope {
public:
    explicit SpeechSynthesizerScope(SpeechSynthesizer& synthesizer);
    ~SpeechSynthesizerScope();
    SpeechSynthesizerScope(const SpeechSynthesizerScope&) = delete;
    SpeechSynthesizerScope& operator=(const SpeechSynthesizerScope&) = delete;

private:
    SpeechSynthesizer* previous_;
};

}  // namespace parlaro
