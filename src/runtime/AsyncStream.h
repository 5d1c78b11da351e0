#pragma once

#include "runtime/Task.h"

#include <coroutine>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace parlaro::rt {

enum class StreamTermination { finished, cancelled };

namespace detail {

template <class T>
struct StreamState {
    std::mutex mutex;
    std::deque<T> buffer;
    bool finished = false;
    bool terminated = false;
    std::exception_ptr error;
    std::shared_ptr<TaskState> waiterTask;
    std::coroutine_handle<> waiter;
    // A consumer is inside next(), from its suspension to its resumption.
    bool waiting = false;
    std::function<void(StreamTermination)> onTermination;

    // Ends the stream once; runs the termination callback outside the lock
    // and wakes a waiting consumer.
    void terminate(StreamTermination how, std::exception_ptr failure)
    {
        std::function<void(StreamTermination)> callback;
        std::coroutine_handle<> wake;
        std::shared_ptr<TaskState> wakeTask;
        {
            std::lock_guard lock(mutex);
            if (terminated)
                return;
            terminated = true;
            finished = true;
            error = std::move(failure);
            callback = std::move(onTermination);
            wake = std::exchange(waiter, {});
            wakeTask = std::move(waiterTask);
        }
        if (callback)
            callback(how);
        if (wake)
            resumeLater(std::move(wakeTask), wake);
    }
};

}  // namespace detail

// An unbounded stream of values from producers on any thread to one consumer
// task. yield() never blocks (it takes a short lock), so audio threads may
// use it. The consumer stopping, by destroying the stream or by cancellation
// while waiting, terminates it with `cancelled`. Awaiting next() while an
// earlier next() still waits throws std::logic_error in the second waiter.
template <class T>
class AsyncStream {
public:
    class Continuation {
    public:
        explicit Continuation(std::shared_ptr<detail::StreamState<T>> state) : state_(std::move(state)) {}

        // False when the stream has ended and the value was dropped.
        bool yield(T value) const
        {
            std::coroutine_handle<> wake;
            std::shared_ptr<detail::TaskState> wakeTask;
            {
                std::lock_guard lock(state_->mutex);
                if (state_->finished)
                    return false;
                state_->buffer.push_back(std::move(value));
                wake = std::exchange(state_->waiter, {});
                wakeTask = std::move(state_->waiterTask);
            }
            if (wake)
                detail::resumeLater(std::move(wakeTask), wake);
            return true;
        }
        void finish() const { state_->terminate(StreamTermination::finished, nullptr); }
        void finish(std::exception_ptr error) const
        {
            state_->terminate(StreamTermination::finished, std::move(error));
        }
        void setOnTermination(std::function<void(StreamTermination)> callback) const
        {
            bool already;
            {
                std::lock_guard lock(state_->mutex);
                already = state_->terminated;
                if (!already)
                    state_->onTermination = std::move(callback);
            }
            if (already && callback)
                callback(StreamTermination::cancelled);
        }

    private:
        std::shared_ptr<detail::StreamState<T>> state_;
    };

    static std::pair<AsyncStream, Continuation> make()
    {
        auto state = std::make_shared<detail::StreamState<T>>();
        return {AsyncStream(state), Continuation(state)};
    }

    AsyncStream(AsyncStream&&) noexcept = default;
    AsyncStream& operator=(AsyncStream&& other) noexcept
    {
        if (this != &other) {
            release();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    AsyncStream(const AsyncStream&) = delete;
    AsyncStream& operator=(const AsyncStream&) = delete;
    ~AsyncStream() { release(); }

    class NextAwaiter {
    public:
        explicit NextAwaiter(std::shared_ptr<detail::StreamState<T>> state) : state_(std::move(state)) {}
        NextAwaiter(const NextAwaiter&) = delete;
        NextAwaiter& operator=(const NextAwaiter&) = delete;
        // A consumer torn down while waiting leaves the stream to the next.
        ~NextAwaiter()
        {
            if (!suspended_)
                return;
            onCancel_.reset();
            std::lock_guard lock(state_->mutex);
            state_->waiting = false;
            state_->waiter = {};
            state_->waiterTask.reset();
        }

        bool await_ready()
        {
            {
                std::lock_guard lock(state_->mutex);
                if (state_->waiting) {
                    refused_ = true;
                    return true;
                }
            }
            if (isCancelled()) {
                state_->terminate(StreamTermination::cancelled, nullptr);
                return true;
            }
            std::lock_guard lock(state_->mutex);
            return !state_->buffer.empty() || state_->finished;
        }
        bool await_suspend(std::coroutine_handle<> h)
        {
            {
                std::lock_guard lock(state_->mutex);
                if (!state_->buffer.empty() || state_->finished)
                    return false;
                state_->waiter = h;
                state_->waiterTask = detail::currentTaskShared();
                state_->waiting = true;
                suspended_ = true;
            }
            auto token = currentStopToken();
            if (token.stop_possible()) {
                std::weak_ptr<detail::StreamState<T>> weak = state_;
                onCancel_.emplace(token, [weak] {
                    if (auto s = weak.lock())
                        s->terminate(StreamTermination::cancelled, nullptr);
                });
            }
            return true;
        }
        // The next value; nullopt once the stream has ended. A stream
        // finished with an error rethrows it once, then ends.
        std::optional<T> await_resume()
        {
            if (refused_)
                throw std::logic_error("AsyncStream::next awaited while another consumer waits");
            onCancel_.reset();
            std::lock_guard lock(state_->mutex);
            if (std::exchange(suspended_, false))
                state_->waiting = false;
            if (!state_->buffer.empty()) {
                T value = std::move(state_->buffer.front());
                state_->buffer.pop_front();
                return value;
            }
            if (auto error = std::exchange(state_->error, nullptr))
                std::rethrow_exception(error);
            return std::nullopt;
        }

    private:
        std::shared_ptr<detail::StreamState<T>> state_;
        std::optional<std::stop_callback<std::function<void()>>> onCancel_;
        bool refused_ = false;
        bool suspended_ = false;
    };

    NextAwaiter next() { return NextAwaiter(state_); }

private:
    explicit AsyncStream(std::shared_ptr<detail::StreamState<T>> state) : state_(std::move(state)) {}
    void release()
    {
        if (state_)
            state_->terminate(StreamTermination::cancelled, nullptr);
        state_.reset();
    }
    std::shared_ptr<detail::StreamState<T>> state_;
};

}  // namespace parlaro::rt
