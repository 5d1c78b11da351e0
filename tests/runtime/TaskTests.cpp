#include "runtime/Continuation.h"
#include "runtime/Log.h"
#include "runtime/ManualRuntime.h"
#include "runtime/Sleep.h"
#include "runtime/Task.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using namespace parlaro;
using namespace parlaro::rt;

namespace {

Async<int> twice(int x)
{
    co_return x * 2;
}

Async<int> failing()
{
    throw DomainError("Test", 3, "boom");
    co_return 0;
}

}  // namespace

TEST(Task, SpawnQueuesItsFirstStepAndRunsInOrder)
{
    ManualRuntime runtime;
    std::vector<std::string> log;
    auto a = spawn([&]() -> Async<void> {
        log.push_back("a1");
        co_await yieldNow();
        log.push_back("a2");
    });
    auto b = spawn([&]() -> Async<void> {
        log.push_back("b1");
        co_return;
    });
    EXPECT_TRUE(log.empty()) << "a spawned task never starts inline";
    runtime.runUntilIdle();
    EXPECT_EQ(log, (std::vector<std::string>{"a1", "b1", "a2"}));
    EXPECT_TRUE(a.isFinished());
    EXPECT_TRUE(b.isFinished());
}

TEST(Task, ValuesErrorsAndJoin)
{
    ManualRuntime runtime;
    auto value = spawn([]() -> Async<int> { co_return co_await twice(21); });
    auto error = spawn([]() -> Async<int> { co_return co_await failing(); });
    std::string caught;
    int joined = 0;
    auto joiner = spawn([&]() -> Async<void> {
        joined = co_await value.join();
        try {
            co_await error.join();
        } catch (const DomainError& e) {
            caught = e.localizedDescription();
        }
    });
    runtime.runUntilIdle();
    EXPECT_EQ(value.result(), 42);
    EXPECT_EQ(joined, 42);
    EXPECT_EQ(caught, "boom");
    EXPECT_THROW(error.result(), DomainError);
    EXPECT_TRUE(joiner.isFinished());
}

TEST(Task, LambdaCapturesOutliveSuspension)
{
    ManualRuntime runtime;
    std::string seen;
    {
        std::string text = "kept";
        spawn([text, &seen]() -> Async<void> {
            co_await sleepFor(1.0);
            seen = text;
        });
    }
    runtime.advance(1.0);
    EXPECT_EQ(seen, "kept");
}

TEST(Task, CooperativeCancellation)
{
    ManualRuntime runtime;
    std::vector<std::string> log;
    TaskHandle<> child;
    auto task = spawn([&]() -> Async<void> {
        log.push_back(isCancelled() ? "cancelled" : "running");
        co_await yieldNow();
        log.push_back(isCancelled() ? "cancelled" : "running");
        CancellationHandler handler([&] { log.push_back("handler"); });
        // A task spawned from a cancelled one starts uncancelled.
        child = spawn([&]() -> Async<void> {
            log.push_back(isCancelled() ? "child cancelled" : "child running");
            co_return;
        });
        co_await yieldNow();
        checkCancellation();
        log.push_back("not reached");
    });
    runtime.executor().runOne();
    task.cancel();
    runtime.runUntilIdle();
    EXPECT_EQ(log, (std::vector<std::string>{"running", "cancelled", "handler", "child running"}));
    EXPECT_TRUE(task.isCancelled());
    EXPECT_THROW(task.result(), CancellationError);
    EXPECT_FALSE(child.isCancelled());
}

TEST(Task, CancellationHandlerRunsWhenCancelledLater)
{
    ManualRuntime runtime;
    int calls = 0;
    auto task = spawn([&]() -> Async<void> {
        CancellationHandler handler([&] { ++calls; });
        try {
            co_await sleepFor(10.0);
        } catch (const CancellationError&) {
        }
    });
    runtime.advance(1.0);
    EXPECT_EQ(calls, 0);
    task.cancel();
    EXPECT_EQ(calls, 1) << "the handler runs in the cancelling call";
    task.cancel();
    runtime.runUntilIdle();
    EXPECT_EQ(calls, 1);
}

TEST(Task, SleepFiresAtItsInstantAndThrowsOnCancel)
{
    ManualRuntime runtime;
    double wokeAt = -1;
    double cancelledAt = -1;
    spawn([&]() -> Async<void> {
        co_await sleepFor(2.5);
        wokeAt = rt::clock().now().seconds();
    });
    auto sleeper = spawn([&]() -> Async<void> {
        try {
            co_await sleepUntil(Instant::fromSeconds(100.0));
        } catch (const CancellationError&) {
            cancelledAt = rt::clock().now().seconds();
        }
    });
    runtime.advance(2.4);
    EXPECT_EQ(wokeAt, -1);
    runtime.advance(0.1);
    EXPECT_DOUBLE_EQ(wokeAt, 2.5);
    runtime.advance(1.5);
    sleeper.cancel();
    runtime.runUntilIdle();
    EXPECT_DOUBLE_EQ(cancelledAt, 4.0);
    EXPECT_EQ(runtime.clock().pendingTimers(), 0u) << "a cancelled sleep leaves no timer";

    bool threw = false;
    auto already = spawn([&]() -> Async<void> {
        try {
            co_await sleepFor(5.0);
        } catch (const CancellationError&) {
            threw = true;
        }
    });
    already.cancel();
    runtime.runUntilIdle();
    EXPECT_TRUE(threw) << "sleeping in a cancelled task throws at once";
}

TEST(Task, ContinuationResumesOnTheExecutorOnce)
{
    ManualRuntime runtime;
    std::optional<Continuation<int>> saved;
    int got = 0;
    auto task =
        spawn([&]() -> Async<void> { got = co_await withContinuation<int>([&](Continuation<int> c) { saved = c; }); });
    runtime.runUntilIdle();
    ASSERT_TRUE(saved);
    task.cancel();
    runtime.runUntilIdle();
    EXPECT_FALSE(task.isFinished()) << "cancellation does not wake a continuation";

    std::thread other([&] { saved->resume(7); });
    other.join();
    EXPECT_EQ(got, 0) << "never resumed inline";
    runtime.runUntilIdle();
    EXPECT_EQ(got, 7);
    EXPECT_THROW(saved->resume(8), std::logic_error);
}

TEST(Task, ContinuationCarriesErrors)
{
    ManualRuntime runtime;
    std::string text;
    spawn([&]() -> Async<void> {
        try {
            co_await withContinuation<void>([](Continuation<void> c) { c.fail(DomainError("D", 1, "failed")); });
        } catch (const DomainError& e) {
            text = e.localizedDescription();
        }
    });
    runtime.runUntilIdle();
    EXPECT_EQ(text, "failed");
}

TEST(Task, ShutdownReleasesTasksAndLaterResumptionsAreDropped)
{
    // Leak checking would flag a frame left suspended forever; the runtime
    // tears such frames down when it ends.
    std::vector<Continuation<void>> held;  // outlives the runtime
    auto runtime = std::make_unique<ManualRuntime>();
    auto alive = std::make_shared<int>(1);
    std::weak_ptr<int> watch = alive;
    std::optional<Continuation<void>> saved;
    spawn([alive, &saved]() -> Async<void> {
        co_await withContinuation<void>([&saved](Continuation<void> c) { saved = c; });
    });
    alive.reset();

    // A frame torn down at shutdown may spawn as it goes: that task is
    // destroyed at once instead of leaking.
    auto late = std::make_shared<int>(2);
    std::weak_ptr<int> watchLate = late;
    struct SpawnsWhenDestroyed {
        std::shared_ptr<int> late;
        ~SpawnsWhenDestroyed()
        {
            if (late)
                spawn([kept = std::move(late)]() -> Async<void> { co_return; });
        }
    };
    auto spawner = std::make_shared<SpawnsWhenDestroyed>(SpawnsWhenDestroyed{std::move(late)});
    spawn([spawner, &held]() -> Async<void> {
        co_await withContinuation<void>([spawner, &held](Continuation<void> c) { held.push_back(c); });
    });
    spawner.reset();
    runtime->runUntilIdle();
    EXPECT_FALSE(watch.expired());

    runtime.reset();
    EXPECT_TRUE(watch.expired());
    EXPECT_TRUE(watchLate.expired()) << "a task spawned during shutdown is destroyed at once";

    // The executor is gone: resuming now drops the resumption.
    ASSERT_TRUE(saved);
    saved->resume();
    saved.reset();
}

TEST(Task, ADroppedContinuationResumesItsTaskWithAnError)
{
    ManualRuntime runtime;
    LogCapture log;
    std::string caught;
    auto task = spawn([&]() -> Async<void> {
        try {
            co_await withContinuation<int>([](Continuation<int> forgotten) { (void)forgotten; });
        } catch (const AbandonedContinuationError& e) {
            caught = e.localizedDescription();
        }
    });
    runtime.runUntilIdle();
    EXPECT_TRUE(task.isFinished()) << "the wait does not hang";
    EXPECT_EQ(caught, "AbandonedContinuationError");
#ifndef NDEBUG
    EXPECT_EQ(
        log.messages(),
        std::vector<std::string>{"a continuation was dropped without being resumed; its task resumes with an error"});
#endif

    // Copies share one resumption: dropping one of two leaves the task waiting.
    std::optional<Continuation<void>> kept;
    auto waiting = spawn([&]() -> Async<void> {
        co_await withContinuation<void>([&](Continuation<void> c) {
            auto copy = c;
            kept = copy;
        });
    });
    runtime.runUntilIdle();
    EXPECT_FALSE(waiting.isFinished());
    kept->resume();
    kept.reset();
    runtime.runUntilIdle();
    EXPECT_TRUE(waiting.isFinished());
    EXPECT_NO_THROW(waiting.result()) << "a resumed continuation dropped later changes nothing";
}

TEST(Task, HandlesCompareByTheTaskTheyName)
{
    ManualRuntime runtime;
    auto a = spawn([]() -> Async<void> { co_return; });
    auto b = spawn([]() -> Async<void> { co_return; });
    TaskHandle<> copy = a;
    EXPECT_TRUE(copy == a);
    EXPECT_FALSE(a == b);
    EXPECT_TRUE(TaskHandle<>() == TaskHandle<>());
    EXPECT_TRUE(a != TaskHandle<>());
    runtime.runUntilIdle();
}
