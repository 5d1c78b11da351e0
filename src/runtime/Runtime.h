#pragma once

#include "runtime/Clock.h"
#include "runtime/Executor.h"

#include <memory>
#include <string>

namespace parlaro::rt {

class SerialQueue;

// Makes the serial queues that stand in for dispatch queues (device watch,
// call audio capture). Production queues own a thread; test queues run on the
// main executor so their order is deterministic.
class QueueFactory {
public:
    virtual ~QueueFactory() = default;
    virtual std::shared_ptr<SerialQueue> makeSerialQueue(std::string label) = 0;
};

// Runs blocking work off the main actor (an external process, a synthesizer).
class BackgroundExecutor {
public:
    virtual ~BackgroundExecutor() = default;
    virtual void run(Job job) = 0;
};

// The process-wide runtime: the main executor, the clock, the queue factory
// and the background executor. Installed once by the application, or per
// test by a ManualRuntime.
struct Environment {
    Executor* executor = nullptr;
    Clock* clock = nullptr;
    QueueFactory* queues = nullptr;
    BackgroundExecutor* background = nullptr;
};

// Installs an environment for the lifetime of the scope and restores the
// previous one afterwards.
class EnvironmentScope {
public:
    explicit EnvironmentScope(Environment env);
    ~EnvironmentScope();
    EnvironmentScope(const EnvironmentScope&) = delete;
    EnvironmentScope& operator=(const EnvironmentScope&) = delete;

private:
    Environment previous_;
};

const Environment& environment();
Executor& mainExecutor();
Clock& clock();
BackgroundExecutor& background();
std::shared_ptr<SerialQueue> makeSerialQueue(std::string label);

// Posts a job to the main actor; callable from any thread.
void postToMain(Job job);

// True on the thread that drives the main executor, and everywhere while no
// runtime is installed. Main-actor-only code asserts it in debug builds.
bool onMainActor();

}  // namespace parlaro::rt
