#pragma once

#include "runtime/Executor.h"
#include "runtime/Runtime.h"

#include <memory>

namespace parlaro::rt {

// The production runtime: the given executor (driven by the application's
// event loop), the system clock, thread-backed queues and a thread pool.
class SystemRuntime {
public:
    SystemRuntime();
    ~SystemRuntime();
    SystemRuntime(const SystemRuntime&) = delete;
    SystemRuntime& operator=(const SystemRuntime&) = delete;

    Executor& executor() { return executor_; }

private:
    Executor executor_;
    std::unique_ptr<Clock> clock_;
    std::unique_ptr<QueueFactory> queues_;
    std::unique_ptr<BackgroundExecutor> background_;
    std::unique_ptr<EnvironmentScope> scope_;
};

}  // namespace parlaro::rt
