#pragma once

#include "runtime/Background.h"
#include "runtime/ExecutorSerialQueue.h"
#include "runtime/ManualClock.h"
#include "runtime/Runtime.h"

#include <memory>

namespace parlaro::rt {

// Everything a deterministic test needs: an executor, the manual clock,
// serial queues and background work that all run on that executor. It
// installs itself as the runtime environment for its lifetime.
class ManualRuntime {
public:
    ManualRuntime();
    ~ManualRuntime();
    ManualRuntime(const ManualRuntime&) = delete;
    ManualRuntime& operator=(const ManualRuntime&) = delete;

    Executor& executor() { return executor_; }
    ManualClock& clock() { return clock_; }
    ExecutorQueueFactory& queues() { return queues_; }

    std::size_t runUntilIdle() { return executor_.runUntilIdle(); }
    void advance(double seconds) { clock_.advance(seconds); }

private:
    Executor executor_;
    ManualClock clock_;
    ExecutorQueueFactory queues_;
    ExecutorBackground background_;
    std::unique_ptr<EnvironmentScope> scope_;
};

}  // namespace parlaro::rt
