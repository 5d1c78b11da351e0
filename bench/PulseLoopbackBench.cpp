// The sound server backend against a running server (PULSE_SERVER; the
// tests' private one works: tests/platform/pulse/daemon.sh start <dir>).
// Reports, never asserts: click latency through the virtual microphone and
// through a sink's monitor, cycle jitter, underflows, how long a device
// change takes to reach a listener, and the server's CPU while the keeper
// streams run. Skips when no server answers.
#include "platform/linux/pulse/PulseAudioSystem.h"
#include "platform/linux/pulse/PulseDeviceIO.h"
#include "platform/linux/pulse/VirtualMicModules.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace parlaro;
using namespace parlaro::sys;

namespace {

double seconds(const char* name, double fallback)
{
    const char* text = std::getenv(name);
    return text ? std::atof(text) : fallback;
}

AudioObjectId deviceWithUID(const AudioSystem& system, const std::string& uid)
{
    AudioPropertyValue qualifier = AudioString(uid);
    std::uint32_t id = 0;
    system.get(audioSystemObject, {"uidd"_fcc}, id, &qualifier);
    return id;
}

// One click every half second from the writer; the reader notes when it
// hears each one. Both run in I/O procedures, so only atomics are shared.
struct Loopback {
    std::atomic<std::uint64_t> clickWritten{0};  // host ns of the last click
    std::atomic<std::uint64_t> waiting{0};       // a click on its way
    std::uint64_t cycle = 0;
    std::uint64_t cyclesPerClick = 1;
    // Reader side.
    std::vector<double> latencies;
    std::vector<double> intervals;
    std::uint64_t lastCycle = 0;

    static AudioStatus write(AudioObjectId, const AudioTimeStamp&, std::span<const AudioIOBuffer>,
                             const AudioTimeStamp&, std::span<AudioIOBuffer> output, const AudioTimeStamp&,
                             void* context)
    {
        auto* loop = static_cast<Loopback*>(context);
        if (output.empty() || output[0].frames() == 0)
            return 0;
        // A click lost on the way is given up after a second.
        if (loop->waiting.load() != 0 && pulseHostNow() - loop->clickWritten.load() > 1'000'000'000ull)
            loop->waiting = 0;
        if (++loop->cycle % loop->cyclesPerClick == 0 && loop->waiting.load() == 0) {
            for (std::uint32_t c = 0; c < output[0].channels; ++c)
                output[0].data[c] = 1.0f;
            loop->clickWritten = pulseHostNow();
            loop->waiting = 1;
        }
        return 0;
    }

    static AudioStatus read(AudioObjectId, const AudioTimeStamp&, std::span<const AudioIOBuffer> input,
                            const AudioTimeStamp&, std::span<AudioIOBuffer>, const AudioTimeStamp&, void* context)
    {
        auto* loop = static_cast<Loopback*>(context);
        const std::uint64_t now = pulseHostNow();
        if (loop->lastCycle != 0 && loop->intervals.size() < loop->intervals.capacity())
            loop->intervals.push_back((now - loop->lastCycle) * 1e-6);
        loop->lastCycle = now;
        if (input.empty() || loop->waiting.load() == 0)
            return 0;
        const std::uint32_t samples = input[0].frames() * input[0].channels;
        for (std::uint32_t i = 0; i < samples; ++i)
            if (input[0].data[i] > 0.5f) {
                // The click sits i frames into the cycle, which ended now.
                const double frameMs = (input[0].frames() - i / input[0].channels) / 48.0;
                if (loop->latencies.size() < loop->latencies.capacity())
                    loop->latencies.push_back((now - loop->clickWritten.load()) * 1e-6 - frameMs);
                loop->waiting = 0;
                break;
            }
        return 0;
    }
};

std::uint32_t overloads(const AudioSystem& system, AudioObjectId device)
{
    std::uint32_t count = 0;
    system.get(device, {"over"_fcc}, count);
    return count;
}

// Writes clicks on `writer`'s output and listens on `reader`'s input, in
// cycles of state.range(0) ms.
void loopback(benchmark::State& state, const char* writerUID, const char* readerUID)
{
    PulseAudioSystem system;
    if (!system.isConnected()) {
        state.SkipWithError("no sound server");
        return;
    }
    const AudioObjectId writer = deviceWithUID(system, writerUID);
    const AudioObjectId reader = deviceWithUID(system, readerUID);
    const auto frames = static_cast<std::uint32_t>(state.range(0) * 48);
    system.setPropertyData(writer, {"fsiz"_fcc}, frames);
    system.setPropertyData(reader, {"fsiz"_fcc}, frames);
    const double duration = seconds("PARLARO_BENCH_SECONDS", 10);

    Loopback loop;
    loop.cyclesPerClick = std::max<std::uint64_t>(1, 500 / state.range(0));
    loop.latencies.reserve(100000);
    loop.intervals.reserve(100000);
    AudioIOProcId out = 0;
    AudioIOProcId in = 0;
    system.createIOProc(writer, Loopback::write, &loop, out);
    system.setPropertyData(writer, {"suse"_fcc, AudioScope::input}, AudioStreamUsage{out, {0}});
    system.createIOProc(reader, Loopback::read, &loop, in);
    system.setPropertyData(reader, {"suse"_fcc, AudioScope::output}, AudioStreamUsage{in, {0}});
    const std::uint32_t overBefore = overloads(system, writer) + overloads(system, reader);
    for (auto _ : state) {
        system.startDevice(reader, in);
        system.startDevice(writer, out);
        std::this_thread::sleep_for(std::chrono::duration<double>(duration));
        system.stopDevice(writer, out);
        system.stopDevice(reader, in);
    }
    system.destroyIOProc(writer, out);
    system.destroyIOProc(reader, in);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    // The first clicks cross a path still filling up.
    std::vector<double> settled(loop.latencies.begin() + std::min<std::size_t>(loop.latencies.size(), 1),
                                loop.latencies.end());
    std::sort(settled.begin(), settled.end());
    double jitter = 0;
    for (double interval : loop.intervals)
        jitter = std::max(jitter, std::abs(interval - state.range(0)));
    state.counters["clicks"] = static_cast<double>(settled.size());
    // Cycles run against the cycles the time allowed, for each side.
    const double expected = duration * 1000.0 / static_cast<double>(state.range(0));
    state.counters["writer_cycles_ratio"] = static_cast<double>(loop.cycle) / expected;
    state.counters["reader_cycles_ratio"] = static_cast<double>(loop.intervals.size() + 1) / expected;
    state.counters["latency_ms_median"] = settled.empty() ? -1 : settled[settled.size() / 2];
    state.counters["latency_ms_max"] = settled.empty() ? -1 : settled.back();
    state.counters["cycle_jitter_ms_max"] = jitter;
    state.counters["underflows"] = overloads(system, writer) + overloads(system, reader) - overBefore;
}

// Injection output -> the virtual microphone (a source over the monitor).
void BM_ClickThroughVirtualMic(benchmark::State& state)
{
    loopback(state, injectionUID, virtualMicUID);
}
BENCHMARK(BM_ClickThroughVirtualMic)->Arg(10)->Arg(20)->Arg(40)->Iterations(1)->Unit(benchmark::kMillisecond);

// The virtual speaker's output -> its monitor, the injection's input.
void BM_ClickThroughSinkMonitor(benchmark::State& state)
{
    loopback(state, virtualMicUID, injectionUID);
}
BENCHMARK(BM_ClickThroughSinkMonitor)->Arg(10)->Arg(20)->Arg(40)->Iterations(1)->Unit(benchmark::kMillisecond);

// From the server's answer to a module load to the 'dev#' listener.
void BM_DeviceEventDelay(benchmark::State& state)
{
    PulseAudioSystem system;
    if (!system.isConnected()) {
        state.SkipWithError("no sound server");
        return;
    }
    std::atomic<std::uint64_t> heard{0};
    auto token = system.addPropertyListener(audioSystemObject, {"dev#"_fcc}, AudioCallbackQueue(),
                                            [&](std::span<const AudioPropertyAddress>) { heard = pulseHostNow(); });
    std::vector<double> delays;
    for (auto _ : state) {
        for (int round = 0; round < 10; ++round) {
            heard = 0;
            const std::string name = "bench_sink_" + std::to_string(round);
            const std::uint64_t asked = pulseHostNow();
            std::string module;
            if (FILE* pipe = popen(("pactl load-module module-null-sink sink_name=" + name).c_str(), "r")) {
                char line[64] = {};
                if (std::fgets(line, sizeof line, pipe))
                    module = line;
                pclose(pipe);
            }
            const std::uint64_t answered = pulseHostNow();
            while (heard.load() == 0 && pulseHostNow() - asked < 2'000'000'000ull)
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            // The event may beat the command's own exit; count from the
            // later of the two ends the server can be seen at.
            if (heard.load() != 0)
                delays.push_back(
                    (static_cast<double>(heard.load()) - static_cast<double>(std::min(answered, heard.load()))) * 1e-6);
            if (!module.empty())
                std::system(("pactl unload-module " + module).c_str());
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    std::sort(delays.begin(), delays.end());
    state.counters["events"] = static_cast<double>(delays.size());
    state.counters["delay_ms_after_pactl_max"] = delays.empty() ? -1 : delays.back();
}
BENCHMARK(BM_DeviceEventDelay)->Iterations(1)->Unit(benchmark::kMillisecond);

// The server's CPU share while only the keeper streams run.
void BM_ServerCpuWithKeepers(benchmark::State& state)
{
    PulseAudioSystem system;
    const char* server = std::getenv("PULSE_SERVER");
    std::string pidFile = server ? server : "";
    if (!system.isConnected() || pidFile.rfind("unix:", 0) != 0) {
        state.SkipWithError("no private sound server");
        return;
    }
    pidFile = pidFile.substr(5);
    pidFile = pidFile.substr(0, pidFile.rfind('/')) + "/pid";
    std::string pid;
    std::ifstream(pidFile) >> pid;
    auto ticks = [&] {
        std::ifstream stat("/proc/" + pid + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        double total = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i)
            if (i == 14 || i == 15)
                total += std::atof(field.c_str());
        return total;
    };
    const double duration = seconds("PARLARO_BENCH_SECONDS", 10);
    double used = 0;
    for (auto _ : state) {
        const double before = ticks();
        std::this_thread::sleep_for(std::chrono::duration<double>(duration));
        used = ticks() - before;
    }
    state.counters["server_cpu_percent"] = 100.0 * used / static_cast<double>(sysconf(_SC_CLK_TCK)) / duration;
}
BENCHMARK(BM_ServerCpuWithKeepers)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
