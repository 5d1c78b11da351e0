#pragma once

#include "runtime/Error.h"
#include "runtime/Executor.h"
#include "runtime/Runtime.h"

#include <atomic>
#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace parlaro::rt {

namespace detail {

// One spawned task: its cancellation source, its root frame and the joiners
// waiting for it. Shared by the handle, the root frame and every suspended
// awaiter that must resume the task later.
struct TaskState : std::enable_shared_from_this<TaskState> {
    std::stop_source stop;
    ExecutorRef executor;
    std::coroutine_handle<> root;  // main actor only

    std::mutex mutex;
    bool finished = false;
    std::exception_ptr error;
    std::vector<Job> joiners;

    virtual ~TaskState() = default;

    void destroyFrame();
    void finish(std::exception_ptr failure);
};

template <class T>
struct TypedTaskState : TaskState {
    std::optional<T> value;
};
template <>
struct TypedTaskState<void> : TaskState {
};

// The task whose code runs on this thread right now, if any.
TaskState* currentTask();
std::shared_ptr<TaskState> currentTaskShared();

class CurrentTaskScope {
public:
    explicit CurrentTaskScope(TaskState* task);
    ~CurrentTaskScope();
    CurrentTaskScope(const CurrentTaskScope&) = delete;
    CurrentTaskScope& operator=(const CurrentTaskScope&) = delete;

private:
    TaskState* previous_;
};

// Posts the resumption of `handle` to the task's executor (the main one
// without a task), inside `task`'s context. Never resumes inline. Drops the
// resumption if the task's frame was destroyed meanwhile or its executor was
// shut down or is gone. True when it was posted.
bool resumeLater(std::shared_ptr<TaskState> task, std::coroutine_handle<> handle);

template <class T>
struct ResultSlot {
    std::variant<std::monostate, T, std::exception_ptr> result;
    template <class U>
    void return_value(U&& v)
    {
        result.template emplace<1>(std::forward<U>(v));
    }
    T take()
    {
        if (auto* e = std::get_if<2>(&result))
            std::rethrow_exception(*e);
        return std::move(std::get<1>(result));
    }
    void fail(std::exception_ptr e) { result.template emplace<2>(std::move(e)); }
};

template <>
struct ResultSlot<void> {
    std::exception_ptr error;
    void return_void() {}
    void take()
    {
        if (error)
            std::rethrow_exception(error);
    }
    void fail(std::exception_ptr e) { error = std::move(e); }
};

}  // namespace detail

// A lazily started asynchronous function. Nothing runs until it is awaited;
// awaiting runs it in the awaiting task and yields its value or rethrows its
// error.
template <class T = void>
class [[nodiscard]] Async {
public:
    struct promise_type : detail::ResultSlot<T> {
        std::coroutine_handle<> continuation;

        Async get_return_object() { return Async(std::coroutine_handle<promise_type>::from_promise(*this)); }
        std::suspend_always initial_suspend() noexcept { return {}; }
        struct FinalAwaiter {
            bool await_ready() noexcept { return false; }
            std::coroutine_handle<> await_suspend(std::coroutine_handle<promise_type> h) noexcept
            {
                auto next = h.promise().continuation;
                return next ? next : std::noop_coroutine();
            }
            void await_resume() noexcept {}
        };
        FinalAwaiter final_suspend() noexcept { return {}; }
        void unhandled_exception() { this->fail(std::current_exception()); }
    };

    Async(Async&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
    Async& operator=(Async&& other) noexcept
    {
        if (this != &other) {
            if (handle_)
                handle_.destroy();
            handle_ = std::exchange(other.handle_, {});
        }
        return *this;
    }
    Async(const Async&) = delete;
    Async& operator=(const Async&) = delete;
    ~Async()
    {
        if (handle_)
            handle_.destroy();
    }

    bool await_ready() const noexcept { return false; }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> caller) noexcept
    {
        handle_.promise().continuation = caller;
        return handle_;
    }
    T await_resume() { return handle_.promise().take(); }

private:
    explicit Async(std::coroutine_handle<promise_type> h) : handle_(h) {}
    std::coroutine_handle<promise_type> handle_;
};

// Cancellation.

// True when the current task has been cancelled. Outside a task: false.
bool isCancelled();
// Throws CancellationError when the current task has been cancelled.
void checkCancellation();
// The current task's stop token (an empty token outside a task).
std::stop_token currentStopToken();

// Runs `onCancel` when the current task is cancelled while this object lives;
// at once (in the constructor) when it is already cancelled. The handler may
// run on whichever thread cancels, so it should only post work.
class CancellationHandler {
public:
    explicit CancellationHandler(std::function<void()> onCancel);
    CancellationHandler(const CancellationHandler&) = delete;
    CancellationHandler& operator=(const CancellationHandler&) = delete;

private:
    std::optional<std::stop_callback<std::function<void()>>> callback_;
};

// Spawned tasks.

namespace detail {

struct RootFrame {
    struct promise_type {
        std::shared_ptr<TaskState> task;

        template <class F, class State>
        promise_type(F&, const std::shared_ptr<State>& state) : task(state)
        {
        }

        RootFrame get_return_object() { return RootFrame{std::coroutine_handle<promise_type>::from_promise(*this)}; }
        std::suspend_always initial_suspend() noexcept { return {}; }
        std::suspend_never final_suspend() noexcept { return {}; }
        void return_void() {}
        void unhandled_exception() { std::terminate(); }
        ~promise_type()
        {
            task->root = {};
            task->executor.untrack(task.get());
        }
    };
    std::coroutine_handle<promise_type> handle;
};

template <class F, class R>
RootFrame runRoot(F body, std::shared_ptr<TypedTaskState<R>> state)
{
    std::exception_ptr failure;
    try {
        if constexpr (std::is_void_v<R>) {
            co_await body();
        } else {
            state->value.emplace(co_await body());
        }
    } catch (...) {
        failure = std::current_exception();
    }
    state->finish(failure);
}

template <class T>
struct AsyncValue;
template <class T>
struct AsyncValue<Async<T>> {
    using type = T;
};

}  // namespace detail

// A handle on a spawned task: cancel it, ask whether it was cancelled, await
// its end. Dropping the handle does not cancel the task.
template <class T = void>
class TaskHandle {
public:
    TaskHandle() = default;
    explicit TaskHandle(std::shared_ptr<detail::TypedTaskState<T>> state) : state_(std::move(state)) {}

    void cancel() const
    {
        if (state_)
            state_->stop.request_stop();
    }
    bool isCancelled() const { return state_ && state_->stop.stop_requested(); }
    bool isFinished() const
    {
        if (!state_)
            return false;
        std::lock_guard lock(state_->mutex);
        return state_->finished;
    }
    explicit operator bool() const { return state_ != nullptr; }
    // The same spawned task (or both empty).
    friend bool operator==(const TaskHandle& a, const TaskHandle& b) { return a.state_ == b.state_; }

    // Waits for the task's end and yields its value or rethrows its error.
    // Awaiting does not tie the two tasks' cancellation together.
    Async<T> join() const { return joinImpl(state_); }

    // For tests and synchronous callers once the task has finished.
    T result() const
    {
        if (state_->error)
            std::rethrow_exception(state_->error);
        if constexpr (!std::is_void_v<T>)
            return *state_->value;
    }

private:
    static Async<T> joinImpl(std::shared_ptr<detail::TypedTaskState<T>> state);
    std::shared_ptr<detail::TypedTaskState<T>> state_;
};

namespace detail {

struct JoinAwaiter {
    explicit JoinAwaiter(std::shared_ptr<TaskState> task) : target(std::move(task)) {}
    std::shared_ptr<TaskState> target;
    bool await_ready() const
    {
        std::lock_guard lock(target->mutex);
        return target->finished;
    }
    bool await_suspend(std::coroutine_handle<> h)
    {
        auto waiter = currentTaskShared();
        std::lock_guard lock(target->mutex);
        if (target->finished)
            return false;
        target->joiners.push_back([waiter, h] { resumeLater(waiter, h); });
        return true;
    }
    void await_resume() const {}
};

}  // namespace detail

template <class T>
Async<T> TaskHandle<T>::joinImpl(std::shared_ptr<detail::TypedTaskState<T>> state)
{
    co_await detail::JoinAwaiter(state);
    if (state->error)
        std::rethrow_exception(state->error);
    if constexpr (!std::is_void_v<T>)
        co_return *state->value;
}

// Starts `body` (a callable returning Async<T>) as a new task on the main
// actor. The task owns `body`, so a lambda's captures live as long as the
// task. Its first step is queued, never run inline. A task spawned from a
// cancelled task starts uncancelled. Spawned after the executor was shut
// down, the task is destroyed at once and ends with a CancellationError.
template <class F>
auto spawn(F body)
{
    using R = typename detail::AsyncValue<std::invoke_result_t<F&>>::type;
    auto state = std::make_shared<detail::TypedTaskState<R>>();
    Executor& executor = mainExecutor();
    state->executor = executor.ref();
    auto frame = detail::runRoot<F, R>(std::move(body), state);
    state->root = frame.handle;
    if (!executor.track(state)) {
        state->destroyFrame();
        state->finish(std::make_exception_ptr(CancellationError()));
        return TaskHandle<R>(state);
    }
    detail::resumeLater(state, frame.handle);
    return TaskHandle<R>(state);
}

// Yields to other main-actor jobs: the rest of the task runs after the jobs
// queued so far.
struct YieldNow {
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> h) { detail::resumeLater(detail::currentTaskShared(), h); }
    void await_resume() const noexcept {}
};
inline YieldNow yieldNow()
{
    return {};
}

}  // namespace parlaro::rt
