#include "audio/HALForwarder.h"
#include "platform/sim/SimAudioSystem.h"
#include "platform/sim/SimPlatform.h"
#include "runtime/ManualRuntime.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

using namespace parlaro;

namespace {

constexpr AudioObjectId benchInput = 40;
constexpr AudioObjectId benchOutput = 50;
constexpr double outputRate = 48000;
constexpr std::uint32_t cycleFrames = 512;

// One forwarded cycle is the input device's procedure call with what it
// captured plus the output device's call for 512 frames at 48 kHz, both with
// valid time stamps so the timing error is measured as it is live. The
// procedures are called directly: what is timed is the forwarder, not the sim.
void forwardCycles(benchmark::State& state, double inputRate)
{
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimAudioSystem audio;
    sim::SimDevice microphone;
    microphone.id = benchInput;
    microphone.inputBuffers = {1};
    microphone.nominalRate = inputRate;
    audio.addDevice(microphone);
    sim::SimDevice virtualDevice;
    virtualDevice.id = benchOutput;
    virtualDevice.inputBuffers = {2};
    virtualDevice.outputBuffers = {2};
    virtualDevice.nominalRate = outputRate;
    audio.addDevice(virtualDevice);
    HALForwarder forwarder(benchInput, benchOutput, false);

    std::vector<float> captured(2 * cycleFrames);
    for (std::size_t i = 0; i < captured.size(); ++i) {
        captured[i] = static_cast<float>(0.5 * std::sin(0.05 * static_cast<double>(i)));
    }
    std::vector<float> played(2 * cycleFrames);
    AudioIOBuffer out{2, cycleFrames * 8, played.data()};
    const double inputTicks = 1e9 / inputRate;
    const double outputTicks = 1e9 / outputRate;
    auto stamp = [](double sample, double ticksPerFrame) {
        AudioTimeStamp time;
        time.sampleTime = sample;
        time.hostTime = 1'000'000'000 + static_cast<std::uint64_t>(sample * ticksPerFrame);
        time.flags = AudioTimeStamp::sampleTimeValid | AudioTimeStamp::hostTimeValid;
        return time;
    };

    double inputDue = 0;
    double inputTime = 0;
    double outputTime = 0;
    auto forwardOneCycle = [&] {
        // The input delivers what its clock produced during one output cycle.
        inputDue += cycleFrames * inputRate / outputRate;
        const auto frames = static_cast<std::uint32_t>(inputDue - inputTime);
        const AudioIOBuffer in{1, frames * 4, captured.data()};
        HALForwarder::inputProc(benchInput, {}, {&in, 1}, stamp(inputTime, inputTicks), {}, {}, &forwarder);
        inputTime += frames;
        HALForwarder::outputProc(benchOutput, {}, {}, {}, {&out, 1}, stamp(outputTime, outputTicks), &forwarder);
        outputTime += cycleFrames;
    };
    for (auto _ : state) {
        forwardOneCycle();
        benchmark::DoNotOptimize(played.data());
    }

    // Latency at steady state, untimed: the input now names its own sample
    // times (a ramp passes the resampler's linear-phase filter unchanged but
    // for its delay), so the first frame each output cycle plays tells how
    // many input frames it lies behind the newest captured one. In the
    // resampled route this includes what the converter holds.
    const double origin = inputTime;
    double latencySum = 0;
    int latencySamples = 0;
    for (int cycle = 0; cycle < 100; ++cycle) {
        for (std::size_t i = 0; i < captured.size(); ++i) {
            captured[i] = static_cast<float>(1.0 + (inputTime + static_cast<double>(i) - origin) * 1e-4);
        }
        forwardOneCycle();
        if (cycle >= 50) {
            const double played0 = origin + (static_cast<double>(played[0]) - 1.0) / 1e-4;
            latencySum += static_cast<double>(forwarder.ring().end()) - played0;
            ++latencySamples;
        }
    }

    const double cycleSeconds = cycleFrames / outputRate;
    state.counters["cycleNs"] = cycleSeconds * 1e9;
    // Seconds of audio forwarded per second of processor time: how many
    // times over the cycle's budget would fit.
    state.counters["realtimeFactor"] = benchmark::Counter(cycleSeconds, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["latencyFrames"] = latencySum / latencySamples;
    state.counters["distanceFrames"] = static_cast<double>(forwarder.distance());
}

} // namespace

BENCHMARK_CAPTURE(forwardCycles, direct, 48000.0)->Unit(benchmark::kNanosecond);
BENCHMARK_CAPTURE(forwardCycles, resampled44100To48000, 44100.0)->Unit(benchmark::kNanosecond);
