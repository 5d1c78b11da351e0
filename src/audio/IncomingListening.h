#pragma once

#include "audio/CallAudioCapturing.h"
#include "runtime/Task.h"
#include "speech/RecognitionSession.h"

#include <functional>
#include <memory>
#include <string>

namespace parlaro {

// Listening to the other party: what the computer plays goes into a
// recognition session; every failure on the way reaches one callback as
// text with its code.
class IncomingListening {
public:
    // On the main actor: text and whether it is final.
    using ResultHandler = std::function<void(const std::string& text, bool isFinal)>;
    // On the main actor: a failure's text, its code included.
    using ErrorHandler = std::function<void(const std::string& text)>;

    virtual ~IncomingListening() = default;

    // Starts `session`, then the capture feeding it. On failure the capture is
    // stopped, the session cancelled and the error thrown.
    virtual rt::Async<void> start(std::shared_ptr<RecognitionSession> session, ResultHandler onResult,
                                  ErrorHandler onError) = 0;
    // Stops the capture, then finishes the session.
    virtual rt::Async<void> stop() = 0;
    // Lets go of the session without finishing it, for the quit path once
    // the capture has stopped: nothing waits for its last result.
    virtual void dropSession() = 0;
    // The capture, for the quit path's bounded stop.
    virtual std::shared_ptr<CallAudioCapturing> capture() const = 0;
};

}  // namespace parlaro
