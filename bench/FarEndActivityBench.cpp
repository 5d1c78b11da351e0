#include "audio/FarEndActivity.h"

#include <benchmark/benchmark.h>

#include <cmath>

using namespace parlaro;

namespace {

// One second of 48 kHz interleaved stereo: a 440 Hz tone on the left.
PcmBuffer oneSecond(SampleType type)
{
    const AudioFormat format{48000, 2, type, true};
    PcmBuffer buffer(format, 48000);
    buffer.setFrameLength(48000);
    for (std::size_t f = 0; f < 48000; ++f) {
        buffer.setFloatSample(f, 0, 0.25f * static_cast<float>(std::sin(2 * M_PI * 440 * f / 48000.0)));
        buffer.setFloatSample(f, 1, 0.1f);
    }
    return buffer;
}

// Levels of one second in 0.01 s windows: 100 spans.
void BM_FarEndSpans(benchmark::State& state)
{
    const PcmBuffer buffer = oneSecond(state.range(0) == 0 ? SampleType::float32 : SampleType::int16);
    for (auto _ : state) {
        auto spans = FarEndActivity::spans(buffer, 1000.0, 0.01);
        benchmark::DoNotOptimize(spans.data());
    }
    state.SetItemsProcessed(state.iterations() * 48000);
    state.SetLabel(state.range(0) == 0 ? "float32" : "int16");
}
BENCHMARK(BM_FarEndSpans)->Arg(0)->Arg(1);

}  // namespace
