#include "runtime/Sleep.h"

#include "runtime/Clock.h"
#include "runtime/Runtime.h"

#include <atomic>

namespace parlaro::rt {

namespace detail {

struct SleepState {
    enum Outcome { pending, fired, cancelled };
    std::atomic<int> outcome{pending};
    Clock* clock = nullptr;
    TimerId timer = 0;
    std::shared_ptr<TaskState> task;
    std::coroutine_handle<> handle;
    std::optional<std::stop_callback<std::function<void()>>> onCancel;

    bool settle(Outcome how)
    {
        int expected = pending;
        return outcome.compare_exchange_strong(expected, how);
    }
};

}  // namespace detail

SleepAwaiter::SleepAwaiter(Instant deadline) : deadline_(deadline)
{
}

SleepAwaiter::SleepAwaiter(SleepAwaiter&& other) noexcept : deadline_(other.deadline_), state_(std::move(other.state_))
{
}

SleepAwaiter::~SleepAwaiter()
{
    // A frame torn down mid-sleep must not leave a timer behind.
    if (state_ && state_->settle(detail::SleepState::cancelled))
        state_->clock->cancel(state_->timer);
}

bool SleepAwaiter::await_ready()
{
    return isCancelled() || clock().now() >= deadline_;
}

void SleepAwaiter::await_suspend(std::coroutine_handle<> h)
{
    auto state = std::make_shared<detail::SleepState>();
    state_ = state;
    state->clock = &clock();
    state->task = detail::currentTaskShared();
    state->handle = h;
    std::weak_ptr<detail::SleepState> weak = state;
    state->timer = state->clock->schedule(TimeBase::continuous, deadline_, [weak] {
        if (auto s = weak.lock(); s && s->settle(detail::SleepState::fired))
            detail::resumeLater(s->task, s->handle);
    });
    auto token = currentStopToken();
    if (token.stop_possible()) {
        state->onCancel.emplace(token, [weak] {
            if (auto s = weak.lock(); s && s->settle(detail::SleepState::cancelled)) {
                s->clock->cancel(s->timer);
                detail::resumeLater(s->task, s->handle);
            }
        });
    }
}

void SleepAwaiter::await_resume()
{
    if (state_) {
        state_->onCancel.reset();
        bool wasCancelled = state_->outcome.load() == detail::SleepState::cancelled;
        state_.reset();
        if (wasCancelled)
            throw CancellationError();
        return;
    }
    checkCancellation();
}

SleepAwaiter sleepUntil(Instant deadline)
{
    return SleepAwaiter(deadline);
}

SleepAwaiter sleepFor(double seconds)
{
    return SleepAwaiter(clock().now() + seconds);
}

}  // namespace parlaro::rt
