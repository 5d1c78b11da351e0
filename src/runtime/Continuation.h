#pragma once

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

    void settle(const std::function<void(ResultSlot<T>&)>& store)
    {
        {
            std::lock_guard lock(mutex);
            if (resumed)
                throw std::logic_error("continuation resumed more than once");
            resumed = true;
            store(slot);
        }
        resumeLater(task, handle);
    }
};

} // namespace detail

// A one-shot resumption of a suspended task, callable from any thread. The
// task continues on the main executor, never inline in the resumer. Resuming
// twice is a programming error and throws std::logic_error. Cancellation of
// the waiting task does not wake it: whoever holds the continuation decides.
template <class T = void>
class Continuation {
public:
    explicit Continuation(std::shared_ptr<detail::ContinuationState<T>> state) : state_(std::move(state)) {}

    template <class U = T>
        requires(!std::is_void_v<U>)
    void resume(U value) const
    {
        state_->settle([&](auto& slot) { slot.return_value(std::move(value)); });
    }
    void resume() const
        requires std::is_void_v<T>
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
    std::shared_ptr<detail::ContinuationState<T>> state_;
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

} // namespace parlaro::rt
