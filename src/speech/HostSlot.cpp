#include "speech/HostSlot.h"

namespace parlaro {

void HostSlot::deliver(HostJob job)
{
    if (waiter) {
        auto waiting = std::move(*waiter);
        waiter.reset();
        waiting.continuation.resume(std::optional<HostJob>(std::move(job)));
        return;
    }
    queue.push_back(std::move(job));
}

rt::Async<std::optional<HostJob>> HostSlot::next(rt::Uuid run)
{
    co_return co_await rt::withContinuation<std::optional<HostJob>>(
        [this, run](rt::Continuation<std::optional<HostJob>> continuation) {
            if (rt::isCancelled()) {
                continuation.resume(std::optional<HostJob>());
                return;
            }
            if (waiter) {
                auto displaced = std::move(*waiter);
                waiter.reset();
                displaced.continuation.resume(std::optional<HostJob>());
            }
            waiter = Waiter{run, continuation};
        });
}

void HostSlot::cancelWaiter(rt::Uuid run)
{
    if (!waiter || waiter->run != run)
        return;
    auto waiting = std::move(*waiter);
    waiter.reset();
    waiting.continuation.resume(std::optional<HostJob>());
}

}  // namespace parlaro
