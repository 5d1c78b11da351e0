#include "audio/CallAudioCapture.h"
#include "audio/EchoGuard.h"
#include "platform/sim/AudioSystemDecorator.h"
#include "platform/sim/SimAudioSystem.h"
#include "runtime/ManualRuntime.h"
#include "runtime/SystemRuntime.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

using namespace parlaro;

namespace {

constexpr std::uint32_t frames = 4096;
constexpr double rate = 48000;
constexpr double bufferSeconds = frames / rate;

// The simulated system, except that it hands out the I/O procedure it is
// given, so the benchmark can run one cycle without the simulation's own
// buffer making.
class ProcCatcher final : public sim::AudioSystemDecorator {
public:
    using AudioSystemDecorator::AudioSystemDecorator;

    AudioIOProc proc = nullptr;
    void* context = nullptr;

    AudioStatus createIOProc(AudioObjectId device, AudioIOProc p, void* c, AudioIOProcId& id) override
    {
        proc = p;
        context = c;
        return system_.createIOProc(device, p, c, id);
    }
};

void reportRealTime(benchmark::State& state)
{
    // Seconds of audio handled per second of work: above 1 keeps up.
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * bufferSeconds, benchmark::Counter::kIsRate);
}

// One I/O cycle of the far-end capture: copying 4096 stereo frames into a
// free slot and firing the queue's trigger. The queue's thread turns the slot
// into a buffer meanwhile; waiting for it is left out of the timing, so every
// cycle finds a free slot (dropped_cycles stays 0).
void BM_FarEndIOCycle(benchmark::State& state)
{
    rt::SystemRuntime runtime;
    sim::SimAudioSystem system;
    ProcCatcher catcher(system);
    auto capture = std::make_shared<CallAudioCapture>(std::make_shared<FarEndActivity>());
    capture->queue()->sync([&] { capture->start([](std::shared_ptr<const PcmBuffer>) {}, [](const std::string&) {}); });

    std::vector<float> samples(frames * 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = 0.2f * static_cast<float>(std::sin(static_cast<double>(i) * 0.01));
    AudioIOBuffer in{2, frames * 2 * sizeof(float), samples.data()};
    AudioTimeStamp time;
    time.flags = AudioTimeStamp::hostTimeValid;
    const AudioObjectId device = capture->aggregateID();
    for (auto _ : state) {
        time.hostTime += hostTicks(bufferSeconds);
        catcher.proc(device, time, std::span<const AudioIOBuffer>(&in, 1), time, {}, time, catcher.context);
        state.PauseTiming();
        capture->queue()->sync([] {});
        state.ResumeTiming();
    }
    reportRealTime(state);
    std::uint64_t dropped = 0;
    capture->queue()->sync([&] {
        dropped = capture->droppedCycles();
        capture->stop();
    });
    state.counters["dropped_cycles"] = static_cast<double>(dropped);
}
BENCHMARK(BM_FarEndIOCycle);

// The echo guard on one 4096-frame microphone buffer at 48 kHz, with the far
// end silent (0) or talking (1), when evidence is gathered and fits run.
void BM_EchoGuardPush(benchmark::State& state)
{
    rt::ManualRuntime runtime;
    const bool farEndTalks = state.range(0) == 1;
    auto record = std::make_shared<FarEndActivity>();
    EchoGuard guard(record);
    const AudioFormat mono{rate, 1, SampleType::float32, false};
    PcmBuffer mic(mono, frames);
    mic.setFrameLength(frames);
    for (std::uint32_t f = 0; f < frames; ++f)
        mic.setFloatSample(f, 0, 0.05f * static_cast<float>(std::sin(f * 0.03)));

    double start = 1000.0;
    std::vector<FarEndActivity::Span> spans;
    for (auto _ : state) {
        if (farEndTalks) {
            state.PauseTiming();
            spans.clear();
            for (int w = 0; w * 0.01 < bufferSeconds; ++w) {
                const double level = -30.0 + 20.0 * std::abs(std::sin(start * 7 + w));
                spans.push_back({start + w * 0.01, start + (w + 1) * 0.01, level});
            }
            record->heard(spans, spans.back().end);
            state.ResumeTiming();
        }
        auto released = guard.push(mic, start, start + bufferSeconds);
        benchmark::DoNotOptimize(released.data());
        start += bufferSeconds;
    }
    reportRealTime(state);
    state.SetLabel(farEndTalks ? "far end talking" : "far end silent");
}
BENCHMARK(BM_EchoGuardPush)->Arg(0)->Arg(1);

} // namespace
