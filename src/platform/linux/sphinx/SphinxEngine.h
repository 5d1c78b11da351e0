#pragma once

#include "platform/linux/sphinx/SphinxDecoderPool.h"
#include "platform/linux/sphinx/SphinxFollowing.h"
#include "platform/linux/sphinx/SphinxJobQueue.h"
#include "platform/linux/sphinx/SphinxPacing.h"
#include "platform/linux/sphinx/SphinxSentenceEnds.h"
#include "platform/linux/sphinx/SphinxSpeechRecognizer.h"
#include "platform/linux/sphinx/SphinxTaskState.h"
#include "platform/linux/sphinx/SphinxUtteranceLearning.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace parlaro::sys {

// One model: a worker thread that runs every decoding step in order (see
// SphinxJobQueue) and a pool of loaded decoders. Nothing the worker holds
// owns the engine, so the engine is never released (and its thread joined)
// on the worker itself. The steps of a task come in the order its request
// asks for them.
class SphinxEngine {
public:
    SphinxEngine(SphinxModel model, std::shared_ptr<SphinxSpeechRecognitionService::Counts> counts,
                 std::size_t partialSamples, std::shared_ptr<SphinxChannelFile> channels);
    ~SphinxEngine();
    SphinxEngine(const SphinxEngine&) = delete;
    SphinxEngine& operator=(const SphinxEngine&) = delete;

    const SphinxModel& model() const { return model_; }

    // The decoders' models are theirs to touch, on their threads; a join
    // asked for on the main actor reads a copy of its own.
    std::optional<std::string> continuation(const std::string& before, const std::string& after, double pause);
    // "?" when the last sentence of `text` is a question, else ".".
    std::string closingMark(const std::string& text) const;

    void begin(const std::shared_ptr<SphinxTaskState>& task);
    void audio(const std::shared_ptr<SphinxTaskState>& task, std::vector<std::int16_t> samples);
    void end(const std::shared_ptr<SphinxTaskState>& task);
    // Gives the task's decoder back to the pool once the worker reaches it.
    void release(const std::shared_ptr<SphinxTaskState>& task);

private:
    void failed(const std::shared_ptr<SphinxTaskState>& task, const std::exception_ptr& failure);
    void returnDecoder(SphinxTaskState& task);
    void finish(const std::shared_ptr<SphinxTaskState>& task, std::optional<SpeechRecognitionResult> result,
                std::optional<DomainError> error);
    static void post(const std::shared_ptr<SphinxTaskState>& task, std::optional<SpeechRecognitionResult> result,
                     std::optional<DomainError> error);

    const SphinxModel model_;
    const bool english_;
    const std::shared_ptr<SphinxSpeechRecognitionService::Counts> counts_;
    const std::shared_ptr<SphinxChannelFile> channels_;
    SphinxSentenceEndsFile sentenceEnds_;
    // Worker thread only, until the thread is joined.
    bool failureSaid_ = false;
    // What the worker touches, then the worker: its thread is joined before
    // any of them goes, and the followers stop before their decoders do.
    SphinxDecoderPool pool_;
    SphinxFollowing following_;
    SphinxUtteranceLearning learning_;
    SphinxJobQueue jobs_;
    SphinxPacing pacing_;
};

}  // namespace parlaro::sys
