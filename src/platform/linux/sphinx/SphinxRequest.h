#pragma once

#include "platform/SpeechRecognizer.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace parlaro::sys {

class SphinxEngine;
struct SphinxTaskState;

// The audio of one utterance for the engine of one model. Audio that
// arrives before a task recognizes it waits here and goes to the decoder
// first.
class SphinxRequest final : public SpeechAudioBufferRecognitionRequest {
public:
    explicit SphinxRequest(std::shared_ptr<SphinxEngine> engine) : engine_(std::move(engine)) {}

    AudioFormat nativeAudioFormat() const override;

    // Takes the first channel of 16 kHz audio in any sample layout; audio at
    // another rate cannot be decoded and is dropped.
    void append(const PcmBuffer& buffer) override;
    void endAudio() override;

    const std::shared_ptr<SphinxEngine>& engine() const { return engine_; }

    // Starts the task on the engine with the audio so far; false where a
    // task already has the request.
    bool attach(const std::shared_ptr<SphinxTaskState>& task);

private:
    const std::shared_ptr<SphinxEngine> engine_;
    std::mutex mutex_;
    std::vector<std::int16_t> pending_;
    bool ended_ = false;
    std::shared_ptr<SphinxTaskState> task_;
};

}  // namespace parlaro::sys
