#include "runtime/Background.h"
#include "runtime/ExecutorSerialQueue.h"
#include "runtime/Log.h"
#include "runtime/ManualRuntime.h"
#include "runtime/Task.h"
#include "runtime/ThreadSerialQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <string>
#include <thread>
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

TEST(SerialQueue, TestQueueTriggersCoalesceAndComeBeforeLaterJobs)
{
    ManualRuntime runtime;
    auto queue = makeSerialQueue("call-audio-capture");
    std::vector<std::string> log;
    int refires = 0;
    SerialQueue::Trigger trigger;
    trigger = queue->makeTrigger([&] {
        log.push_back(queue->isCurrent() ? "t" : "t off the queue");
        if (refires-- > 0)
            trigger.fire();
    });
    auto position = [&](const std::string& entry) { return std::find(log.begin(), log.end(), entry) - log.begin(); };

    // Fires before the run share it.
    trigger.fire();
    trigger.fire();
    trigger.fire();
    EXPECT_TRUE(log.empty()) << "never inline";
    runtime.runUntilIdle();
    EXPECT_EQ(log, (std::vector<std::string>{"t"}));

    // The run comes before a job posted after the fire.
    log.clear();
    queue->async([&] { log.push_back("a"); });
    trigger.fire();
    queue->async([&] { log.push_back("b"); });
    runtime.runUntilIdle();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_LT(position("t"), position("b"));
    EXPECT_LT(position("a"), position("b"));

    // A fire during the run owes another run; sync waits for owed runs.
    log.clear();
    refires = 1;
    trigger.fire();
    queue->sync([&] { log.push_back("sync"); });
    EXPECT_EQ(log, (std::vector<std::string>{"t", "t", "sync"}));

    // A suspended queue runs nothing until it resumes, then once.
    log.clear();
    auto test = runtime.queues().queue("call-audio-capture");
    test->suspend();
    trigger.fire();
    trigger.fire();
    runtime.runUntilIdle();
    EXPECT_TRUE(log.empty());
    test->resume();
    runtime.runUntilIdle();
    EXPECT_EQ(log, (std::vector<std::string>{"t"}));

    // Dropping the trigger drops its owed run; a copy keeps it.
    log.clear();
    auto copy = trigger;
    trigger.fire();
    trigger = {};
    runtime.runUntilIdle();
    EXPECT_EQ(log.size(), 1u);
    copy.fire();
    copy = {};
    runtime.runUntilIdle();
    EXPECT_EQ(log.size(), 1u);

    // A trigger may outlive its queue; firing it then does nothing.
    auto orphan = queue->makeTrigger([&] { log.push_back("orphan"); });
    queue.reset();
    test.reset();
    orphan.fire();
    runtime.runUntilIdle();
    EXPECT_EQ(log.size(), 1u);
}

TEST(SerialQueue, ThreadQueueTriggersFireFromAnyThread)
{
    auto queue = std::make_unique<ThreadSerialQueue>("capture");
    std::vector<std::string> log;  // touched on the queue only until a sync returns
    int refires = 0;
    SerialQueue::Trigger trigger;
    trigger = queue->makeTrigger([&] {
        log.push_back(queue->isCurrent() ? "t" : "t off the queue");
        if (refires-- > 0)
            trigger.fire();
    });

    // Fires from another thread while the queue is busy share one run, which
    // comes before the job posted after them.
    std::promise<void> release;
    queue->async([busy = release.get_future().share()] { busy.wait(); });
    std::thread other([&] {
        for (int i = 0; i < 5; ++i)
            trigger.fire();
    });
    other.join();
    release.set_value();
    queue->sync([&] { log.push_back("sync"); });
    EXPECT_EQ(log, (std::vector<std::string>{"t", "sync"}));

    // A fire during the run owes another, still before the next job.
    log.clear();
    refires = 1;
    std::thread([&] { trigger.fire(); }).join();
    queue->sync([&] { log.push_back("sync"); });
    EXPECT_EQ(log, (std::vector<std::string>{"t", "t", "sync"}));

    // A fire alone wakes the idle queue.
    std::promise<void> ran;
    auto wake = queue->makeTrigger([&] { ran.set_value(); });
    std::thread([&] { wake.fire(); }).join();
    EXPECT_EQ(ran.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);

    // The queue may go first; later fires do nothing.
    queue.reset();
    trigger.fire();
    wake.fire();
    EXPECT_EQ(log.size(), 3u);
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

TEST(SerialQueue, ThreadQueueMayBeReleasedFromItsOwnJob)
{
    auto queue = std::make_shared<ThreadSerialQueue>("owner");
    std::weak_ptr<SerialQueue> weak = queue;
    std::promise<void> gate;
    std::promise<void> after;
    queue->async([keep = queue, busy = gate.get_future().share()] { busy.wait(); });
    queue->async([&after] { after.set_value(); });
    queue.reset();
    EXPECT_FALSE(weak.expired());
    gate.set_value();
    // The first job's end lets go of the last reference on the queue's own
    // thread; the thread still runs what was queued behind it.
    EXPECT_EQ(after.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(weak.expired());
}

TEST(SerialQueue, AJobThatThrowsIsLoggedOrRethrownToTheWaitingCaller)
{
    auto check = [](SerialQueue& queue, const std::function<void()>& drain) {
        LogCapture log;
        std::atomic<int> ran{0};
        queue.async([] { throw parlaro::DomainError("Q", 1, "job failed"); });
        queue.async([&ran] { ++ran; });
        auto trigger = queue.makeTrigger([] { throw std::runtime_error("trigger failed"); });
        trigger.fire();
        drain();
        queue.sync([] {});
        EXPECT_EQ(ran.load(), 1) << "the queue goes on after a failed job";
        auto messages = log.messages();
        std::sort(messages.begin(), messages.end());
        EXPECT_EQ(messages,
                  (std::vector<std::string>{"a job on queue " + queue.label() + " failed: job failed",
                                            "a job on queue " + queue.label() + " failed: trigger failed"}))
            << queue.label();
        EXPECT_THROW(queue.sync([] { throw parlaro::DomainError("Q", 2, "sync failed"); }), parlaro::DomainError);
        EXPECT_THROW(queue.syncWithin(10.0, [] { throw std::runtime_error("bounded"); }), std::runtime_error);
        queue.sync([&ran] { ++ran; });
        EXPECT_EQ(ran.load(), 2);
        EXPECT_EQ(log.messages().size(), 2u) << "an error handed to the caller is not logged";
    };
    ManualRuntime runtime;
    auto test = makeSerialQueue("test");
    check(*test, [&] { runtime.runUntilIdle(); });
    ThreadSerialQueue thread("thread");
    check(thread, [] {});

    // A caller that gave up waiting leaves the error to the log.
    const std::vector<std::string> late{"a job on queue thread failed: late"};
    {
        LogCapture log;
        std::promise<void> gate;
        thread.async([busy = gate.get_future().share()] { busy.wait(); });
        EXPECT_FALSE(thread.syncWithin(0.0, [] { throw std::runtime_error("late"); }));
        gate.set_value();
        thread.sync([] {});
        EXPECT_EQ(log.messages(), late);
    }
    {
        LogCapture log;
        runtime.queues().queue("test")->suspend();
        EXPECT_FALSE(test->syncWithin(0.5, [] { throw std::runtime_error("late"); }));
        runtime.queues().queue("test")->resume();
        runtime.runUntilIdle();
        EXPECT_EQ(log.messages(), std::vector<std::string>{"a job on queue test failed: late"});
    }
}

TEST(SerialQueue, JobsLeftAtTheEndOfATestReleaseWhatTheyHold)
{
    // An owner whose queued job holds it strongly, as a watcher's delivery
    // does, and that job never runs before the runtime goes.
    struct Owner {
        std::shared_ptr<SerialQueue> queue;
    };
    std::weak_ptr<Owner> watched;
    std::weak_ptr<SerialQueue> watchedQueue;
    {
        ManualRuntime runtime;
        auto owner = std::make_shared<Owner>();
        owner->queue = makeSerialQueue("com.parlaro.device-watch");
        owner->queue->async([owner] { owner->queue->async([owner] {}); });
        watched = owner;
        watchedQueue = owner->queue;
    }
    EXPECT_TRUE(watched.expired());
    EXPECT_TRUE(watchedQueue.expired());
}
