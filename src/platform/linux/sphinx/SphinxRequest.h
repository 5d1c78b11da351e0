#pragma once

#include "platform/SpeechRecognizer.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace parlaro::sys {

class SphinxEngine;
struct SphinxTaskState;

// The audio of one utterance for the engine of one model. Audio that
// arrives before a task recognizes it waits here and goes to the decoder
// first. The audio thread appends while the main actor attaches the task
// or ends the audio: the lock orders what each asks of the engine and is
// let go before the engine is asked, one thread handing over, in that
// order, what the others asked meanwhile.
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
    // task already has the request. The task's start is with the engine
    // when this returns.
    bool attach(const std::shared_ptr<SphinxTaskState>& task);

private:
    struct Step {
        enum class Kind { begin, audio, end } kind;
        std::vector<std::int16_t> samples;
    };

    // Hands the steps to the engine with the lock let go, unless another
    // thread is handing them over already.
    void handOver(std::unique_lock<std::mutex> lock);

    const std::shared_ptr<SphinxEngine> engine_;
    std::mutex mutex_;
    std::vector<std::int16_t> pending_;
    bool ended_ = false;
    std::shared_ptr<SphinxTaskState> task_;
    // Asked for and not yet with the engine, oldest first.
    std::deque<Step> steps_;
    bool handingOver_ = false;
};

}  // namespace parlaro::sys
