#pragma once

#include "runtime/Task.h"
#include "runtime/Time.h"

#include <coroutine>
#include <memory>

namespace parlaro::rt {

namespace detail {
struct SleepState;
}

// Suspends the current task until the continuous clock reaches the deadline.
// Throws CancellationError at the instant the task is cancelled, and at once
// when it already was. A deadline already reached returns without suspending.
class SleepAwaiter {
public:
    explicit SleepAwaiter(Instant deadline);
    ~SleepAwaiter();
    SleepAwaiter(SleepAwaiter&&) noexcept;
    SleepAwaiter(const SleepAwaiter&) = delete;
    SleepAwaiter& operator=(const SleepAwaiter&) = delete;
    SleepAwaiter& operator=(SleepAwaiter&&) = delete;

    bool await_ready();
    void await_suspend(std::coroutine_handle<> h);
    void await_resume();

private:
    Instant deadline_;
    std::shared_ptr<detail::SleepState> state_;
};

SleepAwaiter sleepUntil(Instant deadline);
SleepAwaiter sleepFor(double seconds);

}  // namespace parlaro::rt
