#include "runtime/WorkItem.h"

#include "runtime/Runtime.h"

namespace parlaro::rt {

WorkItem scheduleAfter(double seconds, std::function<void(Job)> post, Job job)
{
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    Clock& c = clock();
    auto timer = c.schedule(TimeBase::uptime, c.reading(TimeBase::uptime) + seconds,
                            [cancelled, post = std::move(post), job = std::move(job)] {
                                post([cancelled, job] {
                                    if (!cancelled->load())
                                        job();
                                });
                            });
    return WorkItem(cancelled, &c, timer);
}

WorkItem postAfter(double seconds, Job job)
{
    auto executor = mainExecutor().ref();
    return scheduleAfter(
        seconds, [executor](Job j) { executor.post(std::move(j)); }, std::move(job));
}

}  // namespace parlaro::rt
