#include "audio/IncomingListener.h"

#include "runtime/Runtime.h"

#include <exception>
#include <utility>

namespace parlaro {

IncomingListener::IncomingListener(std::shared_ptr<CallAudioCapturing> capture) : capture_(std::move(capture))
{
}

rt::Async<void> IncomingListener::start(std::shared_ptr<RecognitionSession> session, ResultHandler onResult,
                                        ErrorHandler onError)
{
    std::weak_ptr<IncomingListener> weak = weak_from_this();
    auto capture = capture_;
    std::exception_ptr failure;
    try {
        co_await session->start(std::move(onResult),
                                [onError](const ModuleError& error) { reportError(error, onError); });
        syncOnQueue(*capture->queue(), [&] { capture->stop(); });
        syncOnQueue(*capture->queue(), [&] {
            capture->start([session](std::shared_ptr<const PcmBuffer> buffer) { session->append(std::move(buffer)); },
                           [onError](const std::string& reason) { reportCaptureStop(reason, onError); });
        });
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        syncOnQueue(*capture->queue(), [&] { capture->stop(); });
        co_await session->cancel();
        std::rethrow_exception(failure);
    }
    if (auto self = weak.lock())
        self->transcriber_ = std::move(session);
}

rt::Async<void> IncomingListener::stop()
{
    std::weak_ptr<IncomingListener> weak = weak_from_this();
    auto capture = capture_;
    // First, so that no buffer reaches the session once it finishes.
    syncOnQueue(*capture->queue(), [&] { capture->stop(); });
    auto session = transcriber_;
    if (session)
        co_await session->finish();
    // A start that replaced the session meanwhile keeps its own.
    if (auto self = weak.lock(); self && self->transcriber_ == session)
        self->transcriber_.reset();
}

void IncomingListener::reportError(const ModuleError& error, const ErrorHandler& onError)
{
    if (onError)
        onError(error.localizedDescription());
}

void IncomingListener::reportCaptureStop(const std::string& reason, ErrorHandler onError)
{
    rt::postToMain([reason, onError = std::move(onError)] {
        if (onError)
            onError(ModuleError(ModuleID::callAudio, 3, reason).localizedDescription());
    });
}

}  // namespace parlaro
