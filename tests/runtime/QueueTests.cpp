#include "runtime/Background.h"
#include "runtime/ExecutorSerialQueue.h"
#include "runtime/ManualRuntime.h"
#include "runtime/Task.h"
#include "runtime/ThreadSerialQueue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace parlaro::rt;

TEST(SerialQueue, TestQueuesRunInOrderOnTheExecutor)
{
    ManualRuntime runtime;
    auto queue = makeSerialQueue("com.parlaro.device-watch");
    std::vector<std::string> log;
    queue->async([&] { log.push_back("a"); });
    queue->async([&] { log.push_back("b"); });
    EXPECT_TRUE(log.empty());
    queue->sync([&] { log.push_back("sync"); });
    EXPECT_EQ(log, (std::vector<std::string>{"a", "b", "sync"})) << "sync waits for what was queued before";
    runtime.runUntilIdle();
    EXPECT_EQ(log.size(), 3u);

    auto debounced = queue->asyncAfter(0.3, [&] { log.push_back("late"); });
    runtime.advance(0.3);
    EXPECT_EQ(log.back(), "late");
}

TEST(SerialQueue, SuspendedTestQueuePlaysABlockedQueue)
{
    ManualRuntime runtime;
    auto queue = makeSerialQueue("call-audio-capture");
    auto test = runtime.queues().queue("call-audio-capture");
    ASSERT_EQ(test, queue);
    test->suspend();
    bool ran = false;
    EXPECT_FALSE(queue->syncWithin(0.5, [&] { ran = true; }));
    runtime.runUntilIdle();
    EXPECT_FALSE(ran);
    test->resume();
    runtime.runUntilIdle();
    EXPECT_TRUE(ran) << "the job given up on still runs once the queue moves";
}

TEST(SerialQueue, ThreadQueueRunsOffTheCallerInOrder)
{
    ThreadSerialQueue queue("worker");
    std::vector<int> order;
    bool onQueue = false;
    for (int i = 0; i < 50; ++i)
        queue.async([&order, i] { order.push_back(i); });
    queue.sync([&] { onQueue = queue.isCurrent(); });
    EXPECT_TRUE(onQueue);
    EXPECT_FALSE(queue.isCurrent());
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_TRUE(queue.syncWithin(5.0, [] {}));
}

TEST(Background, ResultsComeBackOnTheMainActor)
{
    ManualRuntime runtime;
    int value = 0;
    std::string error;
    spawn([&]() -> Async<void> {
        value = co_await runInBackground([] { return 6 * 7; });
        try {
            co_await runInBackground([]() -> int { throw parlaro::DomainError("B", 1, "worker failed"); });
        } catch (const parlaro::DomainError& e) {
            error = e.localizedDescription();
        }
    });
    runtime.runUntilIdle();
    EXPECT_EQ(value, 42);
    EXPECT_EQ(error, "worker failed");
}
