#pragma once

#include "platform/PcmBuffer.h"
#include "runtime/Task.h"
#include "speech/ModuleError.h"

#include <functional>
#include <memory>
#include <string>

namespace parlaro {

// One run of speech recognition: started with two callbacks, fed PCM buffers
// from any audio thread, then finished or cancelled. Sessions are objects
// held by reference, never copied.
class RecognitionSession {
public:
    // Run on the main actor. A result with isFinal false is the current
    // hypothesis for the open utterance and replaces the previous partial
    // text; one with isFinal true is committed and delivered once.
    using ResultHandler = std::function<void(const std::string& text, bool isFinal)>;
    // Run on the main actor with a failure after start.
    using FailureHandler = std::function<void(const ModuleError& error)>;

    RecognitionSession() = default;
    RecognitionSession(const RecognitionSession&) = delete;
    RecognitionSession& operator=(const RecognitionSession&) = delete;
    virtual ~RecognitionSession() = default;

    // Keeps both callbacks until the session is released. Throws a
    // ModuleError when the session cannot start (no permission, language not
    // supported, model missing) and rt::CancellationError when cancelled
    // before start completed.
    virtual rt::Async<void> start(ResultHandler onResult, FailureHandler onFailure) = 0;

    // Names the input the audio comes from (a device's UID), before start: a
    // recognizer that adapts to its input keeps what it learnt per input.
    virtual void nameInput(std::string input) { (void)input; }

    // Callable from any thread, real-time audio threads included; holds the
    // session's lock only briefly. A buffer the session cannot take (null,
    // before start completed, after finish or cancel, or without frames) is
    // dropped without error.
    virtual void append(std::shared_ptr<const PcmBuffer> buffer) = 0;

    // Ends the audio input, waits until the final result of everything
    // appended has been delivered (or the last partial text delivered as
    // final), then stops: no further results.
    virtual rt::Async<void> finish() = 0;

    // Stops at once: input ends, running recognition is cancelled, stored
    // texts are dropped and no further results are delivered.
    virtual rt::Async<void> cancel() = 0;
};

}  // namespace parlaro
