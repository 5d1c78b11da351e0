#include "ProcCatcher.h"

#include "audio/CallAudioCapture.h"
#include "audio/EchoGuard.h"
#include "platform/sim/AudioSystemDecorator.h"
#include "platform/sim/SimAudioSystem.h"
#include "runtime/ManualRuntime.h"
#include "runtime/SystemRuntime.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

using namespace parlaro;
using parlaro::bench::ProcCatcher;

namespace {

constexpr std::uint32_t frames = 4096;
constexpr double rate = 48000;
constexpr double bufferSeconds = frames / rate;

void reportRealTime(benchmark::State& state)
{
    // Processor time per second of audio: 3 ms is 0.3% of real time.
    state.counters["cpu_per_audio_s"] = benchmark::Counter(static_cast<double>(state.iterations()) * bufferSeconds,
                                                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    // Seconds of audio handled per second of work: above 1 keeps up.
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * bufferSeconds, benchmark::Counter::kIsRate);
}

// One I/O cycle of the far-end capture through to the far-end record: the
// procedure copies 4096 stereo frames into a free slot and fires the queue's
// trigger; the queue's thread turns the slot into a buffer, measures its
// loudness and records it. The wait for the queue is timed too, and the time
// is the process's processor time, so both threads count.
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
        capture->queue()->sync([] {});
    }
    reportRealTime(state);
    std::uint64_t dropped = 0;
    capture->queue()->sync([&] {
        dropped = capture->droppedCycles();
        capture->stop();
    });
    state.counters["dropped_cycles"] = static_cast<double>(dropped);
}
BENCHMARK(BM_FarEndIOCycle)->MeasureProcessCPUTime();

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

// Eight seconds of a call, repeated: the far end talks in syllables with
// pauses, and the microphone hears it 0.1 s late and 20 dB down over a
// little noise of its own.
struct CallSound {
    static constexpr std::size_t length = 8 * 48000;
    std::vector<float> farEnd;  // stereo, interleaved
    std::vector<float> mic;     // mono

    CallSound() : farEnd(2 * length), mic(length)
    {
        auto far = [](std::size_t frame) {
            const double t = static_cast<double>(frame % length) / rate;
            const double syllables = std::max(0.0, std::sin(2 * M_PI * 3.1 * t));
            const double talking = std::fmod(t, 2.3) < 1.7 ? 1.0 : 0.02;
            return 0.3 * syllables * talking * std::sin(2 * M_PI * 310 * t);
        };
        std::uint32_t noise = 12345;
        for (std::size_t f = 0; f < length; ++f) {
            farEnd[2 * f] = farEnd[2 * f + 1] = static_cast<float>(far(f));
            noise = noise * 1664525u + 1013904223u;
            const double hiss = 0.001 * (static_cast<double>(noise >> 8) / (1 << 24) - 0.5);
            mic[f] = static_cast<float>(0.1 * far(f + length - 4800) + hiss);
        }
    }
};

// The whole far-end path for one 4096-frame tap cycle: the capture's I/O
// procedure and its queue (buffer, loudness, record), then the echo guard
// over the microphone buffers of the same stretch of time, range(0) frames
// each. The far end talks, so the guard gathers evidence and refits as it
// does in a call. Processor time of the whole process, per second of audio.
void BM_FarEndPipeline(benchmark::State& state)
{
    const auto micFrames = static_cast<std::size_t>(state.range(0));
    static const CallSound sound;
    rt::SystemRuntime runtime;
    sim::SimAudioSystem system;
    ProcCatcher catcher(system);
    auto record = std::make_shared<FarEndActivity>();
    auto capture = std::make_shared<CallAudioCapture>(record);
    capture->queue()->sync([&] { capture->start([](std::shared_ptr<const PcmBuffer>) {}, [](const std::string&) {}); });
    EchoGuard guard(record);

    const AudioFormat mono{rate, 1, SampleType::float32, false};
    PcmBuffer mic(mono, micFrames);
    mic.setFrameLength(micFrames);
    const double origin = 1000.0;
    std::size_t tapFrame = 0;
    std::size_t micFrame = 0;
    std::size_t released = 0;
    AudioTimeStamp time;
    time.flags = AudioTimeStamp::hostTimeValid;
    const AudioObjectId device = capture->aggregateID();
    auto cycle = [&] {
        const std::size_t at = tapFrame % CallSound::length;
        // The last cycle of the period wraps; it reads the start again.
        const float* farEnd = at + frames <= CallSound::length ? &sound.farEnd[2 * at] : sound.farEnd.data();
        AudioIOBuffer in{2, frames * 2 * sizeof(float), const_cast<float*>(farEnd)};
        time.hostTime = hostTicks(origin + static_cast<double>(tapFrame) / rate);
        catcher.proc(device, time, std::span<const AudioIOBuffer>(&in, 1), time, {}, time, catcher.context);
        capture->queue()->sync([] {});
        tapFrame += frames;
        while (micFrame + micFrames <= tapFrame) {
            const std::size_t from = micFrame % CallSound::length;
            float* samples = mic.floatChannelData(0);
            for (std::size_t f = 0; f < micFrames; ++f)
                samples[f] = sound.mic[(from + f) % CallSound::length];
            const double start = origin + static_cast<double>(micFrame) / rate;
            released += guard.push(mic, start, origin + static_cast<double>(tapFrame) / rate).size();
            micFrame += micFrames;
        }
    };
    // Long enough for the guard to learn the path before the timing starts.
    for (int i = 0; i < 100; ++i)
        cycle();
    for (auto _ : state)
        cycle();
    reportRealTime(state);
    benchmark::DoNotOptimize(released);
    capture->queue()->sync([&] { capture->stop(); });
    const EchoGate::Route route = guard.route();
    state.SetLabel(route.kind == EchoGate::Route::Kind::echo ? "echo route learned" : "no echo route");
}
BENCHMARK(BM_FarEndPipeline)->Arg(256)->Arg(480)->Arg(512)->Arg(1024)->Arg(4096)->MeasureProcessCPUTime();

}  // namespace
