#include "model/SleepThroughCancellation.h"

#include "runtime/Clock.h"
#include "runtime/Continuation.h"
#include "runtime/Runtime.h"

namespace parlaro {

rt::Async<void> sleepThroughCancellation(double seconds)
{
    rt::Clock& clock = rt::clock();
    const rt::Instant deadline = clock.reading(rt::TimeBase::continuous) + seconds;
    co_await rt::withContinuation<void>([&clock, deadline](rt::Continuation<void> done) {
        clock.schedule(rt::TimeBase::continuous, deadline, [done] { done.resume(); });
    });
}

}  // namespace parlaro
