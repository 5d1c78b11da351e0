#include "runtime/Task.h"

namespace parlaro::rt {

namespace detail {

namespace {
thread_local TaskState* current = nullptr;
}

TaskState* currentTask()
{
    return current;
}

std::shared_ptr<TaskState> currentTaskShared()
{
    return current ? current->shared_from_this() : nullptr;
}

CurrentTaskScope::CurrentTaskScope(TaskState* task) : previous_(current)
{
    current = task;
}

CurrentTaskScope::~CurrentTaskScope()
{
    current = previous_;
}

void TaskState::destroyFrame()
{
    if (auto frame = std::exchange(root, {}))
        frame.destroy();
}

void TaskState::finish(std::exception_ptr failure)
{
    std::vector<Job> waiting;
    {
        std::lock_guard lock(mutex);
        finished = true;
        error = std::move(failure);
        waiting.swap(joiners);
    }
    for (auto& resume : waiting)
        resume();
}

bool resumeLater(std::shared_ptr<TaskState> task, std::coroutine_handle<> handle)
{
    Job resume = [task, handle] {
        if (task && !task->root)
            return;  // the frame was torn down while the resumption was queued
        CurrentTaskScope scope(task.get());
        handle.resume();
    };
    if (task)
        return task->executor.post(std::move(resume));
    Executor& executor = mainExecutor();
    executor.post(std::move(resume));
    return !executor.isShutDown();
}

}  // namespace detail

bool isCancelled()
{
    auto* task = detail::currentTask();
    return task && task->stop.stop_requested();
}

void checkCancellation()
{
    if (isCancelled())
        throw CancellationError();
}

std::stop_token currentStopToken()
{
    auto* task = detail::currentTask();
    return task ? task->stop.get_token() : std::stop_token();
}

CancellationHandler::CancellationHandler(std::function<void()> onCancel)
{
    auto token = currentStopToken();
    if (token.stop_possible())
        callback_.emplace(token, std::move(onCancel));
}

}  // namespace parlaro::rt
