#include "audio/DeviceForwarder.h"
#include "platform/sim/SimAudioSystem.h"
#include "platform/sim/SimPlatform.h"
#include "runtime/ManualRuntime.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>

#include <samplerate.h>
#include <vector>

using namespace parlaro;

namespace {

double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// libsamplerate's callback interface alone, fed from a stereo buffer in
// 256-frame pulls.
class RawResampler {
public:
    explicit RawResampler(const std::vector<float>& source) : source_(source), area_(2 * 256)
    {
        int error = 0;
        state_ = src_callback_new(&RawResampler::pull, SRC_SINC_BEST_QUALITY, 2, &error, this);
    }
    ~RawResampler()
    {
        if (state_)
            src_delete(state_);
    }
    RawResampler(const RawResampler&) = delete;
    RawResampler& operator=(const RawResampler&) = delete;

    void render(float* destination, std::uint32_t frames, double ratio)
    {
        if (state_)
            src_callback_read(state_, ratio, static_cast<long>(frames), destination);
    }

private:
    static long pull(void* context, float** data)
    {
        auto* self = static_cast<RawResampler*>(context);
        const std::size_t frames = self->source_.size() / 2;
        for (std::size_t i = 0; i < 256; ++i) {
            const std::size_t frame = (self->next_ + i) % frames;
            self->area_[2 * i] = self->source_[2 * frame];
            self->area_[2 * i + 1] = self->source_[2 * frame + 1];
        }
        self->next_ += 256;
        *data = self->area_.data();
        return 256;
    }

    const std::vector<float>& source_;
    std::vector<float> area_;
    std::size_t next_ = 0;
    SRC_STATE* state_ = nullptr;
};

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
    DeviceForwarder forwarder(benchInput, benchOutput, false);

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
        DeviceForwarder::inputProc(benchInput, {}, {&in, 1}, stamp(inputTime, inputTicks), {}, {}, &forwarder);
        inputTime += frames;
        DeviceForwarder::outputProc(benchOutput, {}, {}, {}, {&out, 1}, stamp(outputTime, outputTicks), &forwarder);
        outputTime += cycleFrames;
    };
    // The anchor for the resampled route: libsamplerate alone, with the
    // same converter, channels and ratio, pulling the same captured samples
    // 256 frames at a time and rendering 512 frames per cycle. The two run
    // in turns, so both see the same machine.
    RawResampler raw(captured);
    const bool anchored = inputRate != outputRate;
    double forwardedSeconds = 0;
    double rawSeconds = 0;
    for (auto _ : state) {
        const double before = threadSeconds();
        forwardOneCycle();
        const double forwarded = threadSeconds();
        benchmark::DoNotOptimize(played.data());
        if (anchored) {
            raw.render(played.data(), cycleFrames, outputRate / inputRate);
            benchmark::DoNotOptimize(played.data());
            rawSeconds += threadSeconds() - forwarded;
        }
        forwardedSeconds += forwarded - before;
        state.SetIterationTime(forwarded - before);
    }
    if (anchored) {
        state.counters["rawNs"] = rawSeconds / static_cast<double>(state.iterations()) * 1e9;
        // The forwarder's time per cycle over the raw loop's: 1.05 is 5% more.
        state.counters["vsRaw"] = forwardedSeconds / rawSeconds;
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

}  // namespace

// Timed by the forwarding thread's processor time, leaving the raw loop out.
BENCHMARK_CAPTURE(forwardCycles, direct, 48000.0)->UseManualTime()->Unit(benchmark::kNanosecond);
BENCHMARK_CAPTURE(forwardCycles, resampled44100To48000, 44100.0)->UseManualTime()->Unit(benchmark::kNanosecond);
