#pragma once

#include "audio/IncomingListening.h"
#include "speech/ModuleError.h"

#include <memory>
#include <string>

namespace parlaro {

// Joins the far-end capture to a recognition session: each captured buffer is
// appended to the session, and failures of either side reach the error
// callback as coded text. Held by shared_ptr; its operations run on the main
// actor and use the capture's queue synchronously, so they wait for any
// delivery in progress.
class IncomingListener final : public IncomingListening, public std::enable_shared_from_this<IncomingListener> {
public:
    explicit IncomingListener(std::shared_ptr<CallAudioCapturing> capture);

    rt::Async<void> start(std::shared_ptr<RecognitionSession> session, ResultHandler onResult,
                          ErrorHandler onError) override;
    rt::Async<void> stop() override;
    void dropSession() override { transcriber_.reset(); }
    std::shared_ptr<CallAudioCapturing> capture() const override { return capture_; }

    // The session being fed, none while idle.
    const std::shared_ptr<RecognitionSession>& transcriber() const { return transcriber_; }

    // A session failure, as its text with the code.
    static void reportError(const ModuleError& error, const ErrorHandler& onError);
    // The capture gave up: its reason reaches the callback on the main actor,
    // coded CAP-3.
    static void reportCaptureStop(const std::string& reason, ErrorHandler onError);

private:
    std::shared_ptr<CallAudioCapturing> capture_;
    std::shared_ptr<RecognitionSession> transcriber_;
};

}  // namespace parlaro
