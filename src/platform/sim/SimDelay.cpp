#include "platform/sim/SimDelay.h"

#include "runtime/Continuation.h"
#include "runtime/Runtime.h"

namespace parlaro::sim {

rt::Async<void> simDelay(double seconds)
{
    if (!(seconds > 0))
        co_return;
    const rt::Instant due = rt::clock().now() + seconds;
    co_await rt::withContinuation<void>([due](rt::Continuation<void> done) {
        rt::clock().schedule(rt::TimeBase::continuous, due, [done] { done.resume(); });
    });
}

}  // namespace parlaro::sim
