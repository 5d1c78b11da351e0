#include "runtime/AsyncStream.h"
#include "runtime/ManualRuntime.h"
#include "runtime/Task.h"
#include "runtime/ThreadSerialQueue.h"

#include <benchmark/benchmark.h>

#include <atomic>

using namespace parlaro::rt;

// Cost of handing one value from a producer to a waiting consumer task, the
// path every audio buffer takes from a capture thread to the main actor.
static void BM_StreamHandOff(benchmark::State& state)
{
    ManualRuntime runtime;
    auto [stream, producer] = AsyncStream<int>::make();
    long received = 0;
    spawn([&received, s = std::move(stream)]() mutable -> Async<void> {
        while (auto v = co_await s.next())
            received += *v;
    });
    runtime.runUntilIdle();
    for (auto _ : state) {
        producer.yield(1);
        runtime.runUntilIdle();
    }
    producer.finish();
    runtime.runUntilIdle();
    benchmark::DoNotOptimize(received);
}
BENCHMARK(BM_StreamHandOff);

// What waking a thread queue costs a real-time thread: one trigger fire at
// an idle queue whose thread sleeps. The run itself is left out.
static void BM_ThreadQueueTriggerFire(benchmark::State& state)
{
    ThreadSerialQueue queue("bench");
    std::atomic<long> runs{0};
    auto trigger = queue.makeTrigger([&runs] { ++runs; });
    for (auto _ : state) {
        trigger.fire();
        state.PauseTiming();
        queue.sync([] {});
        state.ResumeTiming();
    }
    benchmark::DoNotOptimize(runs.load());
}
BENCHMARK(BM_ThreadQueueTriggerFire);
