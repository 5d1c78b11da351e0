#include "runtime/ManualRuntime.h"

namespace parlaro::rt {

ManualRuntime::ManualRuntime() : clock_(executor_), queues_(executor_), background_(executor_)
{
    scope_ = std::make_unique<EnvironmentScope>(Environment{&executor_, &clock_, &queues_, &background_});
}

ManualRuntime::~ManualRuntime()
{
    executor_.shutdown();
    queues_.discardPendingJobs();
    scope_.reset();
}

}  // namespace parlaro::rt
