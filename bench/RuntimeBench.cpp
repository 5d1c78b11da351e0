#include "runtime/AsyncStream.h"
#include "runtime/ManualRuntime.h"
#include "runtime/Task.h"

#include <benchmark/benchmark.h>

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
