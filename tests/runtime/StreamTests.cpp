#include "runtime/AsyncStream.h"
#include "runtime/ManualRuntime.h"
#include "runtime/Sleep.h"
#include "runtime/Task.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace parlaro;
using namespace parlaro::rt;

TEST(AsyncStream, DeliversInOrderFromAnyThreadAndEnds)
{
    ManualRuntime runtime;
    auto [stream, producer] = AsyncStream<int>::make();
    std::vector<int> got;
    bool ended = false;
    std::optional<StreamTermination> termination;
    producer.setOnTermination([&](StreamTermination how) { termination = how; });
    spawn([&, s = std::move(stream)]() mutable -> Async<void> {
        while (auto v = co_await s.next())
            got.push_back(*v);
        ended = true;
    });
    runtime.runUntilIdle();
    std::thread audio([&p = producer] {
        for (int i = 0; i < 100; ++i)
            p.yield(i);
    });
    audio.join();
    runtime.runUntilIdle();
    ASSERT_EQ(got.size(), 100u);
    EXPECT_EQ(got.front(), 0);
    EXPECT_EQ(got.back(), 99);
    EXPECT_FALSE(ended);
    producer.finish();
    EXPECT_FALSE(producer.yield(5)) << "nothing is accepted after the end";
    runtime.runUntilIdle();
    EXPECT_TRUE(ended);
    EXPECT_EQ(termination, StreamTermination::finished);
}

TEST(AsyncStream, FinishWithErrorRethrowsAfterBufferedValues)
{
    ManualRuntime runtime;
    auto [stream, producer] = AsyncStream<int>::make();
    producer.yield(1);
    producer.finish(std::make_exception_ptr(DomainError("D", 2, "stream failed")));
    std::vector<int> got;
    std::string error;
    spawn([&, s = std::move(stream)]() mutable -> Async<void> {
        try {
            while (auto v = co_await s.next())
                got.push_back(*v);
        } catch (const DomainError& e) {
            error = e.localizedDescription();
        }
    });
    runtime.runUntilIdle();
    EXPECT_EQ(got, std::vector<int>{1});
    EXPECT_EQ(error, "stream failed");
}

TEST(AsyncStream, ConsumerStoppingTerminatesTheStream)
{
    ManualRuntime runtime;
    {
        auto [stream, producer] = AsyncStream<int>::make();
        std::optional<StreamTermination> termination;
        producer.setOnTermination([&](StreamTermination how) { termination = how; });
        bool sawEnd = false;
        auto consumer = spawn([&, s = std::move(stream)]() mutable -> Async<void> {
            auto v = co_await s.next();
            sawEnd = !v.has_value();
        });
        runtime.runUntilIdle();
        consumer.cancel();
        runtime.runUntilIdle();
        EXPECT_TRUE(sawEnd) << "a cancelled consumer sees the end";
        EXPECT_EQ(termination, StreamTermination::cancelled);
        EXPECT_FALSE(producer.yield(1));
    }
    {
        auto [stream, producer] = AsyncStream<int>::make();
        std::optional<StreamTermination> termination;
        producer.setOnTermination([&](StreamTermination how) { termination = how; });
        {
            auto dropped = std::move(stream);
        }
        EXPECT_EQ(termination, StreamTermination::cancelled);
    }
}

TEST(AsyncStream, ASecondWaiterIsRefusedAndTheFirstKeepsTheStream)
{
    ManualRuntime runtime;
    auto [made, producer] = AsyncStream<int>::make();
    auto& stream = made;
    std::vector<int> got;
    std::string refused;
    spawn([&]() -> Async<void> {
        while (auto v = co_await stream.next())
            got.push_back(*v);
    });
    runtime.runUntilIdle();
    spawn([&]() -> Async<void> {
        try {
            co_await stream.next();
        } catch (const std::logic_error& e) {
            refused = e.what();
        }
    });
    runtime.runUntilIdle();
    EXPECT_EQ(refused, "AsyncStream::next awaited while another consumer waits");
    producer.yield(1);
    producer.yield(2);
    producer.finish();
    runtime.runUntilIdle();
    EXPECT_EQ(got, (std::vector<int>{1, 2})) << "the first waiter is not stranded";
}
