#pragma once

#include "runtime/Continuation.h"
#include "speech/RecognitionSession.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace parlaro::test {

// A recognition session the test drives: it records what it is given, fails
// its start when told to, and can leave start or finish waiting until the
// test (or a cancel) lets them go. Results reach the stored callbacks when the
// test calls deliver().
class FakeRecognitionSession final : public RecognitionSession {
public:
    std::optional<ModuleError> startError;
    bool hangStart = false;
    bool hangFinish = false;

    ResultHandler onResult;
    FailureHandler onFailure;
    std::vector<std::string> calls;  // "start", "finish", "cancel" in order
    std::string input;

    void nameInput(std::string named) override { input = std::move(named); }

    rt::Async<void> start(ResultHandler result, FailureHandler failure) override
    {
        calls.push_back("start");
        onResult = std::move(result);
        onFailure = std::move(failure);
        if (startError)
            throw *startError;
        if (hangStart) {
            co_await rt::withContinuation<void>([this](rt::Continuation<void> c) { pendingStart_.emplace(c); });
        }
        std::lock_guard lock(mutex_);
        started_ = true;
    }

    void append(std::shared_ptr<const PcmBuffer> buffer) override
    {
        std::lock_guard lock(mutex_);
        if (started_ && !stopped_ && buffer && buffer->frameLength() > 0)
            appended_.push_back(std::move(buffer));
    }

    rt::Async<void> finish() override
    {
        calls.push_back("finish");
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        if (hangFinish) {
            co_await rt::withContinuation<void>([this](rt::Continuation<void> c) { pendingFinish_.emplace(c); });
        }
    }

    rt::Async<void> cancel() override
    {
        calls.push_back("cancel");
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        // A cancel ends a waiting start (as cancelled) and a waiting finish.
        if (auto waiting = std::exchange(pendingStart_, std::nullopt))
            waiting->fail(rt::CancellationError());
        if (auto waiting = std::exchange(pendingFinish_, std::nullopt))
            waiting->resume();
        co_return;
    }

    // Lets a waiting start or finish go on.
    void releaseStart()
    {
        if (auto waiting = std::exchange(pendingStart_, std::nullopt))
            waiting->resume();
    }
    void releaseFinish()
    {
        if (auto waiting = std::exchange(pendingFinish_, std::nullopt))
            waiting->resume();
    }

    void deliver(const std::string& text, bool isFinal) const
    {
        if (onResult)
            onResult(text, isFinal);
    }

    std::vector<std::shared_ptr<const PcmBuffer>> appended() const
    {
        std::lock_guard lock(mutex_);
        return appended_;
    }

private:
    mutable std::mutex mutex_;
    bool started_ = false;
    bool stopped_ = false;
    std::vector<std::shared_ptr<const PcmBuffer>> appended_;
    std::optional<rt::Continuation<void>> pendingStart_;
    std::optional<rt::Continuation<void>> pendingFinish_;
};

}  // namespace parlaro::test
