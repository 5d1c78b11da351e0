#include "runtime/Runtime.h"

#include <cassert>
#include <stdexcept>

namespace parlaro::rt {

namespace {
Environment current;
}

EnvironmentScope::EnvironmentScope(Environment env) : previous_(current)
{
    current = env;
}

EnvironmentScope::~EnvironmentScope()
{
    current = previous_;
}

const Environment& environment()
{
    return current;
}

Executor& mainExecutor()
{
    if (!current.executor)
        throw std::logic_error("no runtime environment installed");
    return *current.executor;
}

Clock& clock()
{
    if (!current.clock)
        throw std::logic_error("no runtime environment installed");
    return *current.clock;
}

BackgroundExecutor& background()
{
    if (!current.background)
        throw std::logic_error("no runtime environment installed");
    return *current.background;
}

std::shared_ptr<SerialQueue> makeSerialQueue(std::string label)
{
    if (!current.queues)
        throw std::logic_error("no runtime environment installed");
    return current.queues->makeSerialQueue(std::move(label));
}

void postToMain(Job job)
{
    mainExecutor().post(std::move(job));
}

bool onMainActor()
{
    return !current.executor || current.executor->onMainActor();
}

}  // namespace parlaro::rt
