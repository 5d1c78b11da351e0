#include "platform/sim/SimPlatform.h"
#include "runtime/Continuation.h"
#include "runtime/ManualRuntime.h"
#include "runtime/Sleep.h"
#include "speech/Deadline.h"
#include "speech/InterfaceLanguage.h"
#include "speech/ModuleError.h"

#include <gtest/gtest.h>

using namespace parlaro;

namespace {

struct DeadlineTest : ::testing::Test {
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;

    std::optional<std::string> value;
    std::optional<std::string> failure;
    int failures = 0;

    // Runs withDeadline in a task and records its single outcome.
    rt::TaskHandle<> race(double seconds, std::function<rt::Async<std::string>()> operation,
                          std::optional<rt::Instant> deadline = std::nullopt, std::string stage = "翻译",
                          std::optional<std::string> code = "TR-3")
    {
        return rt::spawn([this, seconds, operation, deadline, stage, code]() -> rt::Async<void> {
            try {
                value = co_await withDeadline<std::string>(seconds, stage, code, deadline, operation);
            } catch (...) {
                ++failures;
                failure = describe(std::current_exception());
            }
        });
    }
};

// An operation that never answers but notices its cancellation.
std::function<rt::Async<std::string>()> hanging(bool& cancelled)
{
    return [&cancelled]() -> rt::Async<std::string> {
        try {
            co_await rt::sleepFor(1e9);
        } catch (const rt::CancellationError&) {
            cancelled = true;
            throw;
        }
        co_return "";
    };
}

}  // namespace

TEST_F(DeadlineTest, AnswerInTimeWinsAndStopsTheTimer)
{
    race(20.0, []() -> rt::Async<std::string> {
        co_await rt::sleepFor(3.0);
        co_return "你好";
    });
    runtime.advance(3.0);
    EXPECT_EQ(value, "你好");
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(runtime.clock().pendingTimers(), 0u) << "the timer was cancelled";
    runtime.advance(30.0);
    EXPECT_EQ(failures, 0);
}

TEST_F(DeadlineTest, HangingStepTimesOutAtExactlyItsDeadline)
{
    bool cancelled = false;
    race(12.0, hanging(cancelled), std::nullopt, "录音启动", "SR-4");
    runtime.advance(11.999);
    EXPECT_EQ(failures, 0);
    runtime.advance(0.001);
    EXPECT_EQ(failure, "录音启动超时，请重试（SR-4）");
    EXPECT_EQ(failures, 1);
    EXPECT_TRUE(cancelled) << "the losing operation is cancelled";

    bool cancelled20 = false;
    failure.reset();
    race(20.0, hanging(cancelled20));
    runtime.advance(19.5);
    EXPECT_FALSE(failure);
    runtime.advance(0.5);
    EXPECT_EQ(failure, "翻译超时，请重试（TR-3）");
}

TEST_F(DeadlineTest, AnswerAfterTheInstantButBeforeTheTimerRunsIsATimeout)
{
    std::optional<rt::Continuation<std::string>> pending;
    // This timer is registered first, so at the shared instant it runs first.
    runtime.clock().schedule(rt::TimeBase::continuous, 12.0, [&] { pending->resume("迟到的结果"); });
    race(12.0, [&]() -> rt::Async<std::string> {
        co_return co_await rt::withContinuation<std::string>([&](rt::Continuation<std::string> c) { pending = c; });
    });
    runtime.advance(12.0);
    EXPECT_FALSE(value) << "a late value is dropped";
    EXPECT_EQ(failure, "翻译超时，请重试（TR-3）");
    EXPECT_EQ(failures, 1);
}

TEST_F(DeadlineTest, PastDeadlineNeverStartsTheStep)
{
    runtime.advance(5.0);
    int calls = 0;
    auto operation = [&]() -> rt::Async<std::string> {
        ++calls;
        co_return "x";
    };
    race(20.0, operation, rt::Instant::fromSeconds(5.0));
    runtime.runUntilIdle();
    EXPECT_EQ(failure, "翻译超时，请重试（TR-3）") << "a deadline equal to now";
    race(20.0, operation, rt::Instant::fromSeconds(1.0));
    runtime.runUntilIdle();
    EXPECT_EQ(failures, 2);
    EXPECT_EQ(calls, 0);
    race(0.0, operation);
    runtime.runUntilIdle();
    EXPECT_EQ(failures, 3) << "no time at all";

    // An explicit deadline takes the place of the seconds.
    bool cancelled = false;
    failure.reset();
    race(100.0, hanging(cancelled), rt::Instant::fromSeconds(17.0), "语音识别", "SR-4");
    runtime.advance(12.0);
    EXPECT_EQ(failure, "语音识别超时，请重试（SR-4）");
    EXPECT_DOUBLE_EQ(runtime.clock().now().seconds(), 17.0);
}

TEST_F(DeadlineTest, CallerCancellationEndsTheWaitOnce)
{
    int calls = 0;
    auto before = race(20.0, [&]() -> rt::Async<std::string> {
        ++calls;
        co_return "x";
    });
    before.cancel();
    runtime.runUntilIdle();
    EXPECT_EQ(failure, "CancellationError");
    EXPECT_EQ(calls, 0) << "cancelled before the call: the step never starts";

    bool cancelled = false;
    failure.reset();
    auto during = race(20.0, hanging(cancelled));
    runtime.advance(4.0);
    during.cancel();
    runtime.runUntilIdle();
    EXPECT_EQ(failure, "CancellationError");
    EXPECT_EQ(failures, 2);
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(runtime.clock().pendingTimers(), 0u) << "the timer task was cancelled too";
    runtime.advance(30.0);
    EXPECT_EQ(failures, 2) << "exactly one outcome reaches the caller";
}

TEST_F(DeadlineTest, StepErrorsPassThroughUnchanged)
{
    race(20.0, []() -> rt::Async<std::string> {
        throw ModuleError(ModuleID::translation, 4, "翻译结果为空");
        co_return "";
    });
    runtime.runUntilIdle();
    EXPECT_EQ(failure, "翻译结果为空（TR-4）");
}

TEST_F(DeadlineTest, TimeoutTextFollowsTheLanguageAtReadingTime)
{
    EXPECT_EQ(OperationTimeout("翻译", std::nullopt).errorDescription(), "翻译超时，请重试");
    EXPECT_EQ(OperationTimeout("翻译", "").errorDescription(), "翻译超时，请重试（）");
    OperationTimeout timeout("生成翻译语音", "TTS-3");
    EXPECT_EQ(timeout.errorDescription(), "生成翻译语音超时，请重试（TTS-3）");
    platform.bundles.setTable("en", {{"%@超时，请重试", "%@ timed out, please try again"}});
    InterfaceLanguage::set("en");
    EXPECT_EQ(timeout.errorDescription(), "生成翻译语音 timed out, please try again（TTS-3）")
        << "the stage keeps the language it was made in";
}

TEST_F(DeadlineTest, StepsWithoutAResultRaceTheSameWay)
{
    // Runs a step that yields nothing; records whether it finished and how it failed.
    int finished = 0;
    auto run = [&](std::function<rt::Async<void>()> operation) {
        return rt::spawn([this, &finished, operation]() -> rt::Async<void> {
            try {
                co_await withDeadline<void>(12.0, "录音启动", "SR-4", std::nullopt, operation);
                ++finished;
            } catch (...) {
                ++failures;
                failure = describe(std::current_exception());
            }
        });
    };

    run([]() -> rt::Async<void> { co_await rt::sleepFor(11.5); });
    runtime.advance(11.5);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(runtime.clock().pendingTimers(), 0u) << "the timer was cancelled";

    // Answering at the deadline instant, before the timer runs, is still late.
    std::optional<rt::Continuation<void>> pending;
    runtime.clock().schedule(rt::TimeBase::continuous, runtime.clock().now() + 12.0, [&] { pending->resume(); });
    run([&]() -> rt::Async<void> {
        co_await rt::withContinuation<void>([&](rt::Continuation<void> c) { pending = c; });
    });
    runtime.advance(12.0);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(failure, "录音启动超时，请重试（SR-4）");
    EXPECT_EQ(failures, 1);

    run([]() -> rt::Async<void> {
        throw ModuleError(ModuleID::recognition, 3, "没有权限");
        co_return;
    });
    runtime.runUntilIdle();
    EXPECT_EQ(failure, "没有权限（SR-3）");
    EXPECT_EQ(failures, 2);
    EXPECT_EQ(finished, 1);
}
