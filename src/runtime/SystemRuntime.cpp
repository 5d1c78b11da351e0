#include "runtime/SystemRuntime.h"

#include "runtime/Background.h"
#include "runtime/SystemClock.h"
#include "runtime/ThreadSerialQueue.h"

namespace parlaro::rt {

SystemRuntime::SystemRuntime()
    : clock_(std::make_unique<SystemClock>()), queues_(std::make_unique<ThreadQueueFactory>()),
      background_(std::make_unique<ThreadPoolBackground>())
{
    scope_ =
        std::make_unique<EnvironmentScope>(Environment{&executor_, clock_.get(), queues_.get(), background_.get()});
}

SystemRuntime::~SystemRuntime()
{
    background_.reset();
    executor_.shutdown();
    scope_.reset();
}

}  // namespace parlaro::rt
