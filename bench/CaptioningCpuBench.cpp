// What captioning the other party costs the program: continuous English
// speech as another program's 48 kHz stereo stream, at real speed, through
// the far-end capture, a continuous listening session on pocketsphinx, the
// translator (apertium, English to Spanish) and a conversation record of
// entries with their translations. Reports the process's processor time per
// second of audio (`cpu_per_audio_s`), the recognizer's bare decode of the
// same audio as one utterance, run beside it (`bare_per_audio_s`; its
// processor time is not in the process's figure), their ratio
// (`vs_bare`), the translator processes' share (`translator_per_audio_s`,
// not in the ratio: other processes) and the growth of the resident set
// while captioning (`rss_growth_mb`). Also counts the live texts that reach
// the main actor (`partials`).
#include "ProcCatcher.h"

#include "audio/CallAudioCapture.h"
#include "audio/IncomingListener.h"
#include "platform/linux/apertium/ApertiumTranslation.h"
#include "platform/linux/icu/IcuTextServices.h"
#include "platform/linux/sphinx/SphinxSpeechRecognizer.h"
#include "platform/sim/AudioSystemDecorator.h"
#include "platform/sim/SimAudioSystem.h"
#include "runtime/SystemRuntime.h"
#include "speech/OnDeviceSession.h"

#include "RecordingSet.h"

#include <benchmark/benchmark.h>
#include <pocketsphinx.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <pthread.h>
#include <sstream>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using namespace parlaro;
using namespace parlaro::bench;

namespace {

double processCpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

double threadCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Processor seconds another process has used so far.
double cpuSecondsOf(pid_t pid, bool ownThread = false)
{
    std::ifstream in(ownThread ? "/proc/self/task/" + std::to_string(pid) + "/stat"
                               : "/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    auto close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14 || i == 15)
            ticks += std::stod(field);
        if (i == 15)
            break;
    }
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Processor seconds of each of this process's threads by name, for
// PARLARO_BENCH_TEXT.
void showThreads()
{
    if (!std::getenv("PARLARO_BENCH_TEXT"))
        return;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        std::getline(comm, name);
        std::fprintf(stderr, "thread %s: %.2f s\n", name.c_str(),
                     cpuSecondsOf(static_cast<pid_t>(std::stol(entry.path().filename().string())), true));
    }
}

double residentMegabytes()
{
    std::ifstream in("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    in >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The recognizer alone: one decoder given the same audio at 16 kHz as one
// utterance, no partial results. It runs on a thread of its own at the same
// real speed and at the same time as the program's path, so both meet the
// same machine (a shared machine's load moves either by a third from one
// minute to the next); its processor time is taken out of the process's.
class BareDecode {
public:
    BareDecode(const std::vector<Recording>& set, double gapSeconds)
    {
        const auto gap = static_cast<std::size_t>(gapSeconds * 16000);
        for (const auto& recording : set) {
            samples_.insert(samples_.end(), gap, 0);
            const auto* data = recording.at16k.int16ChannelData(0);
            samples_.insert(samples_.end(), data, data + recording.at16k.frameLength());
        }
        samples_.insert(samples_.end(), gap, 0);
        load();
    }
    explicit BareDecode(std::vector<std::int16_t> samples) : samples_(std::move(samples)) { load(); }

private:
    void load()
    {
        const auto models = sys::installedSphinxModels();
        const auto& model = models.front();
        decoder_ = sys::loadSphinxDecoder(model);
    }

public:
    ~BareDecode()
    {
        if (thread_.joinable())
            thread_.join();
        ps_free(decoder_);
    }

    void start(std::chrono::steady_clock::time_point clockStart)
    {
        thread_ = std::thread([this, clockStart] {
            pthread_setname_np(pthread_self(), "bare-decode");
            const double begun = threadCpuSeconds();
            ps_start_utt(decoder_);
            constexpr std::size_t cycle = 320;
            for (std::size_t at = 0, n = 0; at < samples_.size(); at += cycle, ++n) {
                std::this_thread::sleep_until(clockStart
                                              + std::chrono::microseconds(static_cast<long long>((n + 1) * 20000)));
                ps_process_raw(decoder_, samples_.data() + at, std::min(cycle, samples_.size() - at), FALSE, FALSE);
            }
            ps_end_utt(decoder_);
            std::int32_t score = 0;
            benchmark::DoNotOptimize(ps_get_hyp(decoder_, &score));
            seconds_ = threadCpuSeconds() - begun;
        });
    }
    // Processor seconds, once the decode has ended.
    double seconds()
    {
        thread_.join();
        return seconds_;
    }

private:
    ps_decoder_t* decoder_ = nullptr;
    std::vector<std::int16_t> samples_;
    std::thread thread_;
    double seconds_ = 0;
};

struct Entry {
    std::string original;
    std::string translated;
};

// Translations on their way, and whether the executor stops when the last
// one is in.
struct Pending {
    std::size_t count = 0;
    bool stopWhenDone = false;
};

rt::Async<void> translateInto(std::shared_ptr<TranslationSession> session, std::vector<Entry>* entries,
                              std::size_t index, Pending* pending)
{
    std::string translated;
    try {
        translated = co_await session->translate((*entries)[index].original);
    } catch (...) {
        translated = "?";
    }
    // The record is replaced whole on every change, as the conversation's is.
    auto list = *entries;
    list[index].translated = std::move(translated);
    *entries = std::move(list);
    if (pending && --pending->count == 0 && pending->stopWhenDone)
        rt::mainExecutor().stop();
}

void BM_CaptioningCpu(benchmark::State& state)
{
    const auto set = recordingSet();
    if (set.empty()) {
        state.SkipWithError("the US English pocketsphinx model or its test recordings are not installed");
        return;
    }
    constexpr double gap = 0.5;
    rt::SystemRuntime runtime;
    sys::IcuTextServices text;
    sys::ApertiumTranslation translation(text);
    if (translation.modes().resolve("en", "es").status != LanguageAvailability::Status::installed) {
        state.SkipWithError("apertium with its English-Spanish pair is not installed");
        return;
    }
    auto translator = translation.makeInstalledSession("en", "es");
    // Argument 0: a partial result looked for after every buffer, as before
    // the live text had a cadence; 1: the program's cadence.
    const double partialInterval =
        state.range(0) == 0 ? 0.0 : sys::SphinxSpeechRecognitionService::defaultPartialInterval;
    auto service = std::make_shared<sys::SphinxSpeechRecognitionService>(sys::defaultSphinxModelRoot, partialInterval);
    sim::SimAudioSystem system;
    ProcCatcher catcher(system);
    const std::vector<float> stream = farEndStream(set, gap);
    const double audioSeconds = static_cast<double>(stream.size() / 2) / 48000.0;

    // Warm: the model loaded and the translators started, as in a call.
    {
        auto recognizer = service->makeRecognizer("en-US");
        auto request = recognizer->makeRequest();
        bool done = false;
        auto task = recognizer->recognitionTask(request, [&](const auto& result, const auto& error) {
            if (error || (result && result->isFinal)) {
                done = true;
                rt::mainExecutor().stop();
            }
        });
        request->append(set.front().at16k);
        request->endAudio();
        runtime.executor().run();
        std::vector<Entry> warm{{"Hello", ""}};
        rt::spawn([&]() -> rt::Async<void> {
            co_await translateInto(translator, &warm, 0, nullptr);
            rt::mainExecutor().stop();
        });
        runtime.executor().run();
    }

    double cpu = 0;
    double bare = 0;
    double translators = 0;
    double growth = 0;
    std::size_t sentences = 0;
    std::size_t partials = 0;
    for (auto _ : state) {
        auto capture = std::make_shared<CallAudioCapture>(std::make_shared<FarEndActivity>());
        auto listener = std::make_shared<IncomingListener>(capture);
        auto session = std::make_shared<OnDeviceSession>("en-US", RecognitionMode::continuous, service);
        std::vector<Entry> entries;
        std::string partial;
        Pending pending;
        partials = 0;
        auto start = rt::spawn([&]() -> rt::Async<void> {
            co_await listener->start(
                session,
                [&](const std::string& heard, bool isFinal) {
                    if (!isFinal) {
                        partial = heard;
                        ++partials;
                        return;
                    }
                    partial.clear();
                    auto list = entries;
                    list.push_back(Entry{heard, "…"});
                    entries = std::move(list);
                    ++pending.count;
                    rt::spawn([&, index = entries.size() - 1]() {
                        return translateInto(translator, &entries, index, &pending);
                    });
                },
                [](const std::string&) {});
            rt::mainExecutor().stop();
        });
        runtime.executor().run();
        const AudioObjectId device = capture->aggregateID();
        const auto pids = translation.pipeline("eng-spa")->processes();
        double translatorsBefore = 0;
        for (pid_t pid : pids)
            translatorsBefore += cpuSecondsOf(pid);

        BareDecode bareDecode(set, gap);
        const double rssBefore = residentMegabytes();
        const auto clockStart = std::chrono::steady_clock::now();
        const double begun = processCpuSeconds();
        bareDecode.start(clockStart);
        std::thread feeder([&] {
            constexpr std::uint32_t cycle = 960;
            AudioTimeStamp time;
            for (std::size_t at = 0, n = 0; at + cycle * 2 <= stream.size(); at += cycle * 2, ++n) {
                std::this_thread::sleep_until(clockStart
                                              + std::chrono::microseconds(static_cast<long long>((n + 1) * 20000)));
                AudioIOBuffer in{2, cycle * 2 * sizeof(float), const_cast<float*>(stream.data() + at)};
                catcher.proc(device, time, std::span<const AudioIOBuffer>(&in, 1), time, {}, time, catcher.context);
            }
            capture->queue()->sync([] {});
            rt::postToMain([listener, &pending] {
                rt::spawn([listener, &pending]() -> rt::Async<void> {
                    co_await listener->stop();
                    // Then the last translations.
                    pending.stopWhenDone = true;
                    if (pending.count == 0)
                        rt::mainExecutor().stop();
                });
            });
        });
        runtime.executor().run();
        feeder.join();
        bare = bareDecode.seconds();
        cpu = processCpuSeconds() - begun - bare;
        growth = residentMegabytes() - rssBefore;
        translators = -translatorsBefore;
        for (pid_t pid : pids)
            translators += cpuSecondsOf(pid);
        sentences = entries.size();
        showThreads();
    }
    state.counters["cpu_per_audio_s"] = cpu / audioSeconds;
    state.counters["bare_per_audio_s"] = bare / audioSeconds;
    state.counters["vs_bare"] = bare > 0 ? cpu / bare : 0;
    state.counters["translator_per_audio_s"] = translators / audioSeconds;
    state.counters["rss_growth_mb"] = growth;
    state.counters["sentences"] = static_cast<double>(sentences);
    state.counters["partials"] = static_cast<double>(partials);
}
BENCHMARK(BM_CaptioningCpu)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

// The recognizer's bare decode of a raw 16 kHz mono recording named by
// PARLARO_BENCH_AUDIO, at real speed: the yardstick that
// bench/captioning-program.sh runs beside the whole program captioning the
// same recording through a sound server.
void BM_BareDecodeOfFile(benchmark::State& state)
{
    const char* path = std::getenv("PARLARO_BENCH_AUDIO");
    if (!path) {
        state.SkipWithError("PARLARO_BENCH_AUDIO names no recording");
        return;
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    if (sys::installedSphinxModels().empty() || bytes.size() < 2) {
        state.SkipWithError("no recording or no US English pocketsphinx model");
        return;
    }
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    double bare = 0;
    for (auto _ : state) {
        BareDecode decode(std::move(samples));
        decode.start(std::chrono::steady_clock::now());
        bare = decode.seconds();
    }
    const double audioSeconds = static_cast<double>(bytes.size() / 2) / 16000.0;
    state.counters["bare_per_audio_s"] = bare / audioSeconds;
    state.counters["audio_s"] = audioSeconds;
}
BENCHMARK(BM_BareDecodeOfFile)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
