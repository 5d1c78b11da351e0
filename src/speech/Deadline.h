#pragma once

#include "runtime/Continuation.h"
#include "runtime/Error.h"
#include "runtime/Runtime.h"
#include "runtime/Sleep.h"
#include "runtime/Task.h"

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

namespace parlaro {

// A step that did not answer in time. The fixed words follow the interface
// language current when the text is read; the stage keeps the language it
// was made in.
class OperationTimeout : public Error {
public:
    OperationTimeout(std::string stage, std::optional<std::string> code)
        : stage_(std::move(stage)), code_(std::move(code))
    {
    }

    const std::string& stage() const { return stage_; }
    const std::optional<std::string>& code() const { return code_; }
    std::string errorDescription() const;
    std::string localizedDescription() const override { return errorDescription(); }

private:
    std::string stage_;
    std::optional<std::string> code_;
};

namespace detail {

// One race between a step, its timer and the caller's cancellation. Lives on
// the main actor; `completed` lets exactly the first outcome through.
template <class T>
struct DeadlineRace {
    std::optional<rt::Continuation<T>> continuation;
    rt::TaskHandle<> work;
    rt::TaskHandle<> timer;
    bool completed = false;

    template <class Resume>
    void finish(Resume resume)
    {
        if (completed)
            return;
        completed = true;
        auto waiting = std::exchange(continuation, std::nullopt);
        if (work)
            work.cancel();
        if (timer)
            timer.cancel();
        work = {};
        timer = {};
        if (waiting)
            resume(*waiting);
    }
    void fail(std::exception_ptr error)
    {
        finish([&](const rt::Continuation<T>& c) { c.resumeThrowing(error); });
    }
};

}  // namespace detail

// Runs `operation` against a deadline (`deadline`, or `seconds` from now on
// the continuous clock) and the caller's cancellation; the first outcome
// wins. A value that arrives at or after the deadline is a timeout even if
// the timer has not fired yet. A deadline already reached never starts the
// operation.
template <class T>
rt::Async<T> withDeadline(double seconds, std::string stage, std::optional<std::string> code,
                          std::optional<rt::Instant> deadline, std::function<rt::Async<T>()> operation)
{
    using Race = detail::DeadlineRace<T>;
    auto race = std::make_shared<Race>();
    const rt::Instant effective = deadline ? *deadline : rt::clock().now() + seconds;
    auto timeout = [stage, code] { return std::make_exception_ptr(OperationTimeout(stage, code)); };
    auto cancelled = [] { return std::make_exception_ptr(rt::CancellationError()); };

    rt::Executor* main = &rt::mainExecutor();
    rt::CancellationHandler handler(
        [race, main, cancelled] { main->post([race, cancelled] { race->fail(cancelled()); }); });
    if (rt::isCancelled())
        throw rt::CancellationError();
    if (!(rt::clock().now() < effective))
        throw OperationTimeout(stage, code);

    co_return co_await rt::withContinuation<T>([&](rt::Continuation<T> c) {
        race->continuation = c;
        race->work = rt::spawn([race, operation, effective, timeout, cancelled]() -> rt::Async<void> {
            if (rt::isCancelled())
                co_return race->fail(cancelled());
            if (!(rt::clock().now() < effective))
                co_return race->fail(timeout());
            try {
                if constexpr (std::is_void_v<T>) {
                    co_await operation();
                } else {
                    auto value = co_await operation();
                    if (!rt::isCancelled() && rt::clock().now() < effective) {
                        race->finish([&](const rt::Continuation<T>& done) { done.resume(std::move(value)); });
                        co_return;
                    }
                }
            } catch (...) {
                co_return race->fail(std::current_exception());
            }
            if (rt::isCancelled())
                race->fail(cancelled());
            else if (!(rt::clock().now() < effective))
                race->fail(timeout());
            else if constexpr (std::is_void_v<T>)
                race->finish([](const rt::Continuation<T>& done) { done.resume(); });
        });
        race->timer = rt::spawn([race, effective, timeout]() -> rt::Async<void> {
            try {
                co_await rt::sleepUntil(effective);
            } catch (const rt::CancellationError&) {
                co_return;
            }
            race->fail(timeout());
        });
    });
}

}  // namespace parlaro
