#pragma once

#include "platform/SpeechSynthesizer.h"

#include <cstddef>
#include <exception>
#include <memory>
#include <vector>

namespace parlaro::sim {

// A synthesizer for tests. It speaks a 440 Hz tone whose length follows the
// text (secondsPerCharacter for each Unicode code point), cut into buffers of
// framesPerBuffer, followed by the end mark. Buffers arrive on the main
// executor after renderDelay seconds of virtual time, all at once. It can
// also fail to start, stay silent (only the end mark), hang (never answer) or
// fail part way (its buffers, then the failure mark, as a dying engine does).
// Installs itself as the process-wide synthesizer for its lifetime.
class SimSpeechSynthesizer : public SpeechSynthesizer {
public:
    enum class Behavior { speak, silent, hang, failPartWay };

    SimSpeechSynthesizer();
    ~SimSpeechSynthesizer() override;
    SimSpeechSynthesizer(const SimSpeechSynthesizer&) = delete;
    SimSpeechSynthesizer& operator=(const SimSpeechSynthesizer&) = delete;

    // Main actor: observers of the voices hear of the change.
    void setVoices(std::vector<SynthesisVoice> voices);
    void setBehavior(Behavior behavior);
    void setRenderDelay(double seconds);
    // write() throws this error until cleared with nullptr.
    void setFailure(std::exception_ptr error);
    // The format of the rendered buffers; mono 22050 Hz float by default.
    void setFormat(const AudioFormat& format);
    void setSecondsPerCharacter(double seconds);
    void setFramesPerBuffer(std::size_t frames);

    // The length of the tone a text renders to, in seconds (whole frames).
    double renderedSeconds(std::string_view text) const;

    // Every utterance given to write(), in order.
    std::vector<Utterance> utterances() const;
    std::vector<RenderID> stoppedRenders() const;
    std::size_t stopSpeakingCount() const;
    // Renders written and neither finished nor stopped.
    std::size_t pendingRenders() const;

    std::vector<SynthesisVoice> voices() override;
    RenderID write(const Utterance& utterance, BufferCallback onBuffer) override;
    void stopRender(RenderID render) override;
    void stopSpeaking() override;

private:
    struct State;
    std::shared_ptr<State> state_;
    SpeechSynthesizerScope scope_;
};

}  // namespace parlaro::sim
