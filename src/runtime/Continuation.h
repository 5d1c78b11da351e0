#pragma once

#include "runtime/Error.h"
#include "runtime/Log.h"
#include "runtime/Task.h"

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace parlaro::rt {

namespace detail {

template <class T>
struct ContinuationState {
    std::mutex mutex;
    bool resumed = false;
    ResultSlot<T> slot;
    std::shared_ptr<TaskState> task;
    std::coroutine_handle<> handle;

    // False when the task was resumed already. `posted` tells whether the
    // resumption went to a running executor.
    bool trySettle(const std::function<void(ResultSlot<T>&)>& store, bool* posted = nullptr)
    {
        {
            std::lock_guard lock(mutex);
            if (resumed)
                return false;
            resumed = true;
            store(slot);
        }
        const bool queued = resumeLater(task, handle);
        if (posted)
            *posted = queued;
        return true;
    }
    void settle(const std::function<void(ResultSlot<T>&)>& store)
    {
        if (!trySettle(store))
            throw std::logic_error("continuation resumed more than once");
    }
};

// Shared by every copy of one Continuation. When the last copy goes without
// having resumed the task, the task resumes with an error instead of
// waiting for ever.
template <class T>
struct ContinuationKeeper {
    explicit ContinuationKeeper(std::shared_ptr<ContinuationState<T>> s) : state(std::move(s)) {}
    ContinuationKeeper(const ContinuationKeeper&) = delete;
    ContinuationKeeper& operator=(const ContinuationKeeper&) = delete;
    ~ContinuationKeeper()
    {
        try {
            // Dropped while the runtime shuts down, the task goes with it:
            // nothing to report then.
            bool posted = false;
            state->trySettle([](auto& slot) { slot.fail(std::make_exception_ptr(AbandonedContinuationError())); },
                             &posted);
            if (posted)
                debugLog("a continuation was dropped without being resumed; its task resumes with an error");
        } catch (...) {
            // No runtime left to resume on: the task's frame goes with it.
        }
    }

    std::shared_ptr<ContinuationState<T>> state;
};

}  // namespace detail

// A one-shot resumption of a suspended task, callable from any thread. The
// task continues on the main executor, never inline in the resumer. Resuming
// twice is a programming error and throws std::logic_error. Cancellation of
// the waiting task does not wake it: whoever holds the continuation decides.
// Dropping every copy without resuming resumes the task with an
// AbandonedContinuationError, so a forgotten continuation never hangs it.
template <class T = void>
class Continuation {
public:
    explicit Continuation(std::shared_ptr<detail::ContinuationState<T>> state)
        : keeper_(std::make_shared<detail::ContinuationKeeper<T>>(std::move(state))), state_(keeper_->state.get())
    {
    }

    template <class U = T>
    requires(!std::is_void_v<U>) void resume(U value) const
    {
        state_->settle([&](auto& slot) { slot.return_value(std::move(value)); });
    }
    void resume() const requires std::is_void_v<T>
    {
        state_->settle([](auto&) {});
    }
    void resumeThrowing(std::exception_ptr error) const
    {
        state_->settle([&](auto& slot) { slot.fail(std::move(error)); });
    }
    template <class E>
    void fail(E error) const
    {
        resumeThrowing(std::make_exception_ptr(std::move(error)));
    }
    bool isResumed() const
    {
        std::lock_guard lock(state_->mutex);
        return state_->resumed;
    }

private:
    std::shared_ptr<detail::ContinuationKeeper<T>> keeper_;
    detail::ContinuationState<T>* state_;
};

// Suspends the current task and hands `body` a Continuation that resumes it.
// `body` runs on the main actor while the task is suspended.
template <class T = void>
class ContinuationAwaiter {
public:
    explicit ContinuationAwaiter(std::function<void(Continuation<T>)> body) : body_(std::move(body)) {}

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> h)
    {
        state_ = std::make_shared<detail::ContinuationState<T>>();
        state_->task = detail::currentTaskShared();
        state_->handle = h;
        Continuation<T> continuation(state_);
        try {
            body_(continuation);
        } catch (...) {
            if (!continuation.isResumed())
                continuation.resumeThrowing(std::current_exception());
        }
    }
    T await_resume() { return state_->slot.take(); }

private:
    std::function<void(Continuation<T>)> body_;
    std::shared_ptr<detail::ContinuationState<T>> state_;
};

template <class T = void>
ContinuationAwaiter<T> withContinuation(std::function<void(Continuation<T>)> body)
{
    return ContinuationAwaiter<T>(std::move(body));
}

}  // namespace parlaro::rt
