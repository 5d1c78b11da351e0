// How many words recognition gets wrong on the program's own paths, beside a
// whole-utterance decode of the same recordings: pocketsphinx's test
// recordings and sentences spoken at build time. Each path runs at real
// speed, since the session's pause handling goes by the clock; so each
// takes as long as its audio. Reports the word error rate in percent
// (`wer_pct`) and the word counts behind it; never asserts. Each benchmark's
// last argument says who spoke the sets made at build time: 0 espeak-ng, 1
// festival (see VoiceFamily).
#include "CaptionTimer.h"
#include "ProcCatcher.h"

#include "audio/CallAudioCapture.h"
#include "audio/EchoGuard.h"
#include "audio/IncomingListener.h"
#include "audio/OwnSpeechRecorder.h"
#include "platform/linux/pulse/PulseAudioSystem.h"
#include "platform/linux/sphinx/SphinxSpeechRecognizer.h"
#include "platform/sim/AudioSystemDecorator.h"
#include "platform/sim/SimAudioSystem.h"
#include "runtime/SystemRuntime.h"
#include "speech/OnDeviceSession.h"
#include "speech/RecognitionSession.h"

#include "RecordingSet.h"

#include <benchmark/benchmark.h>
#include <pocketsphinx.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdlib.h>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

using namespace parlaro;
using namespace parlaro::bench;

namespace {

// With PARLARO_BENCH_TEXT set, what each path heard goes to the error
// stream, to see where the words went.
void show(const char* path, const std::string& heard)
{
    if (std::getenv("PARLARO_BENCH_TEXT"))
        std::fprintf(stderr, "%s: %s\n", path, heard.c_str());
}

// Who spoke the sets made at build time, as the benchmark's argument
// `index` says.
VoiceFamily family(const benchmark::State& state, int index)
{
    return state.range(index) == 1 ? VoiceFamily::festival : VoiceFamily::espeakNg;
}

// The recordings, with the sentences spoken by the family the argument
// `index` names; none, with the benchmark skipped, when the model, its test
// recordings or the family's sentences are not installed.
std::vector<Recording> recordings(benchmark::State& state, int index)
{
    auto set = recordingSet(family(state, index));
    if (set.empty())
        state.SkipWithError("the US English pocketsphinx model, its test recordings or the voices that speak the "
                            "sentences are not installed");
    return set;
}

// The set a table lists (see spokenRecordings), spoken by the family the
// argument `index` names; none, with the benchmark skipped, when it was not
// spoken at build time.
std::vector<Recording> spoken(benchmark::State& state, const char* table, int index)
{
    auto set = spokenRecordings(table, family(state, index));
    if (set.empty())
        state.SkipWithError("the US English pocketsphinx model or the voices that speak the replies are not installed");
    return set;
}

void report(benchmark::State& state, const WordErrors& errors)
{
    state.counters["wer_pct"] = errors.rate() * 100.0;
    state.counters["words"] = static_cast<double>(errors.reference);
    state.counters["errors"] = static_cast<double>(errors.errors);
}

// Calls `feed` on a thread of its own while the main executor runs here, then
// `done` on the executor; returns once `done` has stopped the executor.
void runWhileFeeding(rt::SystemRuntime& runtime, const std::function<void()>& feed,
                     std::function<rt::Async<void>()> done)
{
    std::thread feeder([&] {
        feed();
        rt::postToMain([done] {
            rt::spawn([done]() -> rt::Async<void> {
                co_await done();
                rt::mainExecutor().stop();
            });
        });
    });
    runtime.executor().run();
    feeder.join();
}

// Waits on the feeding thread until `at` seconds after `start`.
void waitUntil(std::chrono::steady_clock::time_point start, double at)
{
    std::this_thread::sleep_until(
        start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(at)));
}

// Whether PULSE_SERVER names a private sound server, one the tests' daemon
// scripts started (their sockets lie in a "…-test/pulse" folder); a
// desktop's own server is never played into.
bool privateServer(benchmark::State& state)
{
    const char* server = std::getenv("PULSE_SERVER");
    if (server && std::string(server).find("-test/pulse/native") != std::string::npos)
        return true;
    state.SkipWithError("PULSE_SERVER names no private sound server: start one with tests/platform/pulse/daemon.sh or "
                        "pipewire.sh and point PULSE_SERVER at its socket");
    return false;
}

// Runs a command of the server's tools; false when it failed.
bool run(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Loads a module into the server; its index, or -1 when it failed.
int loadModule(const std::string& arguments)
{
    FILE* pactl = popen(("pactl load-module " + arguments + " 2>/dev/null").c_str(), "r");
    if (!pactl)
        return -1;
    int index = -1;
    if (std::fscanf(pactl, "%d", &index) != 1)
        index = -1;
    return pclose(pactl) == 0 ? index : -1;
}

// Starts far-end listening with continuous English recognition; what it
// hears as final goes to `finals`, and is timed by `timer` when one is given.
// False when listening did not start.
bool startListening(rt::SystemRuntime& runtime, IncomingListener& listener,
                    std::shared_ptr<SpeechRecognitionService> service, std::vector<std::string>& finals,
                    CaptionTimer* timer)
{
    auto session = std::make_shared<OnDeviceSession>("en-US", RecognitionMode::continuous, std::move(service));
    bool started = false;
    auto start = rt::spawn([&]() -> rt::Async<void> {
        co_await listener.start(
            session,
            [&finals, timer](const std::string& text, bool isFinal) {
                if (!isFinal)
                    return;
                finals.push_back(text);
                if (const auto time = timer ? timer->captioned() : std::nullopt)
                    show("caption",
                         std::to_string(time->afterVoice).substr(0, 5) + " s after its speech (words "
                             + std::to_string(time->words).substr(0, 5) + ", pause "
                             + std::to_string(time->pause).substr(0, 5) + ", final "
                             + std::to_string(time->final).substr(0, 5) + (time->byDeadline ? " by the deadline" : "")
                             + (time->first ? ", the first" : "") + "): " + text);
            },
            [](const std::string&) {});
        started = true;
        rt::mainExecutor().stop();
    });
    runtime.executor().run();
    return started;
}

std::string joined(const std::vector<std::string>& finals)
{
    std::string heard;
    for (const auto& text : finals)
        heard += text + " | ";
    return heard;
}

// One pass of (b): a continuous listening session on a new far-end capture
// while `play`, on a thread of its own, plays the far end to that capture and
// says whether it could. What the session heard, against every word of the
// set, becomes `errors`. False, with the benchmark skipped, when listening did
// not start or the far end was not played.
bool listenToFarEnd(benchmark::State& state, rt::SystemRuntime& runtime,
                    std::shared_ptr<SpeechRecognitionService> service, const std::vector<Recording>& set,
                    const char* path, WordErrors& errors, const std::function<bool(const CallAudioCapture&)>& play,
                    CaptionTimer* timer = nullptr)
{
    auto capture = std::make_shared<CallAudioCapture>(std::make_shared<FarEndActivity>());
    auto listener = std::make_shared<IncomingListener>(capture);
    std::vector<std::string> finals;
    if (!startListening(runtime, *listener, std::move(service), finals, timer)) {
        state.SkipWithError("listening did not start");
        return false;
    }
    bool played = false;
    runWhileFeeding(
        runtime, [&] { played = play(*capture); }, [listener]() -> rt::Async<void> { co_await listener->stop(); });
    if (!played) {
        state.SkipWithError("pacat could not play the recordings");
        return false;
    }
    const std::string heard = joined(finals);
    show(path, heard);
    errors = wordErrors(allWords(set), heard);
    return true;
}

// How the program making a press (or hearing the far end) started.
enum class Run {
    // Long ago: it has heard the input already.
    going,
    // Just now, on a computer where it heard the input in an earlier run.
    newHeardBefore,
    // Just now, on a computer where it never heard the input.
    newNeverHeard,
};

// A folder for what the recognizer keeps between runs, empty at first and
// removed with the object.
struct StateFolder {
    StateFolder()
    {
        char name[] = "/tmp/parlaro-bench-XXXXXX";
        if (::mkdtemp(name))
            path = name;
    }
    ~StateFolder()
    {
        std::error_code ignored;
        if (!path.empty())
            std::filesystem::remove_all(path, ignored);
    }
    std::filesystem::path file() const { return path / "recognition-channels.json"; }
    std::filesystem::path path;
};

// The recognition service of a newly started program of the kind.
std::shared_ptr<sys::SphinxSpeechRecognitionService> newProgram(Run run, const StateFolder& state)
{
    return std::make_shared<sys::SphinxSpeechRecognitionService>(
        sys::defaultSphinxModelRoot, sys::SphinxSpeechRecognitionService::defaultPartialInterval,
        run == Run::newHeardBefore ? std::optional(state.file()) : std::nullopt);
}

// One pass of (c): a press per recording, each by a program started as
// `run` says (a new `service` for every press of a newly started one).
// `press` gives the final text at release, or nothing when the press
// failed, which ends the pass; returns the words heard against the
// recordings' words.
WordErrors pressEach(const std::vector<Recording>& set, Run run,
                     std::shared_ptr<sys::SphinxSpeechRecognitionService>& service,
                     const std::function<std::optional<std::string>(const Recording&)>& press)
{
    WordErrors errors;
    StateFolder state;
    for (const auto& recording : set) {
        if (run != Run::going)
            service = newProgram(run, state);
        const auto heard = press(recording);
        if (!heard)
            break;
        errors += wordErrors(recording.words, *heard);
    }
    // The last program writes what it learnt as it ends, into the folder
    // that is about to go.
    if (run != Run::going)
        service.reset();
    return errors;
}

// (a) pocketsphinx alone: one decoder, set up as the program's are, each
// recording in turn as one whole utterance at 16 kHz.
void BM_RecognitionWholeUtterance(benchmark::State& state)
{
    const auto set = recordings(state, 0);
    if (set.empty())
        return;
    const auto model = sys::installedSphinxModels().front();
    WordErrors errors;
    for (auto _ : state) {
        ps_decoder_t* decoder = sys::loadSphinxDecoder(model);
        errors = {};
        for (const auto& recording : set) {
            ps_start_utt(decoder);
            ps_process_raw(decoder, recording.at16k.int16ChannelData(0), recording.at16k.frameLength(), FALSE, TRUE);
            ps_end_utt(decoder);
            std::int32_t score = 0;
            const char* hypothesis = ps_get_hyp(decoder, &score);
            const std::string text = hypothesis ? hypothesis : "";
            show("whole", text);
            errors += wordErrors(recording.words, text);
        }
        ps_free(decoder);
    }
    report(state, errors);
}
BENCHMARK(BM_RecognitionWholeUtterance)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

// The far end's recordings through listening, as the far-end benchmarks'
// argument says: 0, one program hears them all, a second apart; 1, each is
// the first thing a newly started program hears of the other party, one
// that heard it in an earlier run (a run before the first heard the last
// recording); 2, the same where it never did. `play` plays a part's stream
// to the capture. What was heard goes to `errors`, when each caption came
// to `times`. False when the benchmark was skipped.
bool hearFarEnd(benchmark::State& state, rt::SystemRuntime& runtime, const std::vector<Recording>& set,
                const char* path, const std::function<bool(const CallAudioCapture&, std::vector<float>&)>& play,
                WordErrors& errors, std::vector<CaptionTime>& times)
{
    const Run run = state.range(0) == 1 ? Run::newHeardBefore : state.range(0) == 2 ? Run::newNeverHeard : Run::going;
    StateFolder folder;
    std::vector<std::vector<Recording>> parts;
    if (run == Run::newHeardBefore)
        parts.push_back({set.back()});
    if (run == Run::going)
        parts.push_back(set);
    else
        for (const auto& recording : set)
            parts.push_back({recording});
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::vector<CaptionTime> heardTimes;
        // A newly started program's service ends with the part, and writes
        // what it learnt for the next.
        auto timer = std::make_shared<CaptionTimer>(
            run == Run::going ? std::make_shared<sys::SphinxSpeechRecognitionService>() : newProgram(run, folder),
            heardTimes);
        std::vector<float> stream = farEndStream(parts[i], 1.0);
        // Room for the last caption before listening stops.
        stream.insert(stream.end(), 2 * 48000 * 2, 0.0f);
        WordErrors heard;
        if (!listenToFarEnd(
                state, runtime, timer, parts[i], path, heard,
                [&](const CallAudioCapture& capture) { return play(capture, stream); }, timer.get()))
            return false;
        if (run == Run::newHeardBefore && i == 0)
            continue;
        errors += heard;
        times.insert(times.end(), heardTimes.begin(), heardTimes.end());
    }
    return true;
}

// What the far end says: the second argument 0 takes the recordings, 1 the
// replies with pauses inside sentences and between them, 2 the held-out
// ones; spoken by the family the third names.
std::vector<Recording> farEndSet(benchmark::State& state)
{
    if (state.range(1) == 0)
        return recordings(state, 2);
    return spoken(state, state.range(1) == 2 ? "held-out-replies.tsv" : "replies.tsv", 2);
}

// The word errors, and how long after the end of its speech each caption
// came, in milliseconds: the program's first caption of the other party
// (`first_ms`, `first_max_ms`) and the others (`later_ms`, `later_max_ms`);
// beside them the medians of the wait's stages (see CaptionTime): `_words`
// until the last new live text, `_pause` until the session's pause commit,
// `_final` until the caption. `by_deadline` counts captions the session's
// deadline made of a live text.
void reportCaptions(benchmark::State& state, const WordErrors& errors, const std::vector<CaptionTime>& times)
{
    report(state, errors);
    for (const bool first : {true, false}) {
        std::vector<double> total, words, pause, final;
        for (const auto& time : times) {
            if (time.first != first)
                continue;
            total.push_back(time.afterVoice * 1000);
            words.push_back(time.words * 1000);
            pause.push_back(time.pause * 1000);
            final.push_back(time.final * 1000);
        }
        const std::string name = first ? "first" : "later";
        std::tie(state.counters[name + "_ms"], state.counters[name + "_max_ms"]) = medianAndMax(total);
        state.counters[name + "_words"] = medianAndMax(words).first;
        state.counters[name + "_pause"] = medianAndMax(pause).first;
        state.counters[name + "_final"] = medianAndMax(final).first;
    }
    state.counters["captions"] = static_cast<double>(times.size());
    state.counters["by_deadline"] = static_cast<double>(
        std::count_if(times.begin(), times.end(), [](const auto& time) { return time.byDeadline; }));
}

// (b) The far-end path: the recordings as another program's 48 kHz stereo
// stream in 20 ms cycles through the far-end capture into a continuous
// listening session (see hearFarEnd for the argument).
void BM_RecognitionFarEnd(benchmark::State& state)
{
    const auto set = farEndSet(state);
    if (set.empty())
        return;
    rt::SystemRuntime runtime;
    sim::SimAudioSystem system;
    ProcCatcher catcher(system);
    WordErrors errors;
    std::vector<CaptionTime> times;
    for (auto _ : state) {
        errors = {};
        times.clear();
        constexpr std::uint32_t cycle = 960;
        // The capture's cycles at the speed of the stream.
        const auto play = [&](const CallAudioCapture& capture, std::vector<float>& stream) {
            const AudioObjectId device = capture.aggregateID();
            const auto begun = std::chrono::steady_clock::now();
            AudioTimeStamp time;
            for (std::size_t at = 0, n = 0; at + cycle * 2 <= stream.size(); at += cycle * 2, ++n) {
                waitUntil(begun, static_cast<double>(n + 1) * cycle / 48000.0);
                AudioIOBuffer in{2, cycle * 2 * sizeof(float), stream.data() + at};
                catcher.proc(device, time, std::span<const AudioIOBuffer>(&in, 1), time, {}, time, catcher.context);
            }
            capture.queue()->sync([] {});
            return true;
        };
        if (!hearFarEnd(state, runtime, set, "far end", play, errors, times))
            return;
    }
    reportCaptions(state, errors, times);
}
BENCHMARK(BM_RecognitionFarEnd)->ArgsProduct({{0, 1, 2}, {0, 1, 2}, {0, 1}})->Iterations(1)->Unit(benchmark::kSecond);

// A session that notes when its first buffer came, for how long after the
// press the microphone's sound begins.
class FirstBufferTimer final : public RecognitionSession {
public:
    explicit FirstBufferTimer(std::shared_ptr<RecognitionSession> session) : session_(std::move(session)) {}

    rt::Async<void> start(ResultHandler onResult, FailureHandler onFailure) override
    {
        co_await session_->start(std::move(onResult), std::move(onFailure));
    }
    void append(std::shared_ptr<const PcmBuffer> buffer) override
    {
        auto unset = std::chrono::steady_clock::time_point{};
        first.compare_exchange_strong(unset, std::chrono::steady_clock::now());
        session_->append(std::move(buffer));
    }
    rt::Async<void> finish() override { co_await session_->finish(); }
    rt::Async<void> cancel() override { co_await session_->cancel(); }

    std::atomic<std::chrono::steady_clock::time_point> first{};

private:
    std::shared_ptr<RecognitionSession> session_;
};

// (b) through a sound server: the same streams played by pacat, another
// program, on the default output of the server PULSE_SERVER names, while
// the far-end capture listens through that server's tap. Runs only against
// a private server (one the tests' daemon scripts started), never a
// desktop's own.
void BM_RecognitionFarEndServer(benchmark::State& state)
{
    if (!privateServer(state))
        return;
    const auto set = farEndSet(state);
    if (set.empty())
        return;
    rt::SystemRuntime runtime;
    sys::PulseAudioSystem system;
    AudioSystemScope scope(system);
    WordErrors errors;
    std::vector<CaptionTime> times;
    for (auto _ : state) {
        errors = {};
        times.clear();
        // pacat plays at the server's pace and, at the end of its input,
        // drains what it still holds before it exits.
        const auto play = [&](const CallAudioCapture& capture, std::vector<float>& stream) {
            FILE* player = popen("pacat --raw --format=float32le --rate=48000 --channels=2 --latency-msec=100", "w");
            if (!player)
                return false;
            bool played = std::fwrite(stream.data(), sizeof(float), stream.size(), player) == stream.size();
            played = pclose(player) == 0 && played;
            // What the tap still holds comes through before listening stops.
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            capture.queue()->sync([] {});
            return played;
        };
        if (!hearFarEnd(state, runtime, set, "far end through the server", play, errors, times))
            return;
    }
    reportCaptions(state, errors, times);
}
BENCHMARK(BM_RecognitionFarEndServer)
    ->ArgsProduct({{0, 1, 2}, {0, 1, 2}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// One press of `recording` in `mode`: the microphone's 48 kHz mono in its
// 4096-frame buffers into a session from the first buffer on, at real
// speed; every final text, in order, each followed by a space.
std::string press(rt::SystemRuntime& runtime, std::shared_ptr<sys::SphinxSpeechRecognitionService> service,
                  RecognitionMode mode, const Recording& recording)
{
    auto session = std::make_shared<OnDeviceSession>("en-US", mode, std::move(service));
    std::string heard;
    auto start = rt::spawn([&]() -> rt::Async<void> {
        co_await session->start(
            [&](const std::string& text, bool isFinal) {
                if (isFinal)
                    heard += text + " ";
            },
            [](const ModuleError&) {});
        rt::mainExecutor().stop();
    });
    runtime.executor().run();
    const auto mic = microphoneBuffers(recording, MicCapture4096);
    runWhileFeeding(
        runtime,
        [&] {
            const auto begun = std::chrono::steady_clock::now();
            double at = 0;
            for (const auto& buffer : mic) {
                at += static_cast<double>(buffer->frameLength()) / 48000.0;
                waitUntil(begun, at);
                session->append(buffer);
            }
        },
        [session]() -> rt::Async<void> { co_await session->finish(); });
    return heard;
}

// (c) The hold path: one press per recording; the final text at release.
// Argument 0: translated after release; 1: sentences sent while the key is
// held; 2: as 0, but each press is the first of a newly started program
// that heard the microphone in an earlier run; 3: the same on a computer
// where it never heard it.
void BM_RecognitionHold(benchmark::State& state)
{
    const auto set = recordings(state, 1);
    if (set.empty())
        return;
    const auto mode = state.range(0) == 1 ? RecognitionMode::held : RecognitionMode::utterance;
    const Run run = state.range(0) == 2 ? Run::newHeardBefore : state.range(0) == 3 ? Run::newNeverHeard : Run::going;
    rt::SystemRuntime runtime;
    auto service = std::make_shared<sys::SphinxSpeechRecognitionService>();
    WordErrors errors;
    for (auto _ : state) {
        errors = pressEach(set, run, service, [&](const Recording& recording) -> std::optional<std::string> {
            const auto heard = press(runtime, service, mode, recording);
            show("hold", heard);
            return heard;
        });
    }
    report(state, errors);
}
BENCHMARK(BM_RecognitionHold)->ArgsProduct({{0, 1, 2, 3}, {0, 1}})->Iterations(1)->Unit(benchmark::kSecond);

// Where a press's sentences end: replies made for it, with pauses both
// inside sentences and between them, one press each, the pauses read off
// the final text (argument 0) or the sentences sent while the key is held
// (1), on the replies (second argument 0), the more made later (1) or the
// held-out ones (2).
// Beside the word errors: the share of pauses inside a sentence that ended
// one (`inside_end_pct`, the fewer the better) and of pauses between
// sentences that did (`between_end_pct`, the more the better), and the
// pauses counted (those whose word before was heard).
void BM_RecognitionSentenceEnds(benchmark::State& state)
{
    const char* const tables[] = {"replies.tsv", "more-replies.tsv", "held-out-replies.tsv"};
    const auto set = spoken(state, tables[state.range(1)], 2);
    if (set.empty())
        return;
    const auto mode = state.range(0) == 1 ? RecognitionMode::held : RecognitionMode::utterance;
    rt::SystemRuntime runtime;
    auto service = std::make_shared<sys::SphinxSpeechRecognitionService>();
    WordErrors errors;
    SentenceEnds ends;
    for (auto _ : state) {
        errors = {};
        ends = {};
        for (const auto& reply : set) {
            const auto heard = press(runtime, service, mode, reply);
            show("reply", heard);
            errors += wordErrors(reply.words, heard);
            ends += sentenceEnds(reply, heard);
        }
    }
    report(state, errors);
    const auto percent = [](std::size_t part, std::size_t whole) {
        return whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
    };
    state.counters["inside_end_pct"] = percent(ends.insideEnded, ends.inside);
    state.counters["between_end_pct"] = percent(ends.betweenEnded, ends.between);
    state.counters["inside_pauses"] = static_cast<double>(ends.inside);
    state.counters["between_pauses"] = static_cast<double>(ends.between);
}
BENCHMARK(BM_RecognitionSentenceEnds)
    ->ArgsProduct({{0, 1}, {0, 1, 2}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// (c) through a sound server: a microphone at 48 kHz (a source remapped
// from a null sink's monitor, with a sound card's properties, made the
// default input) that pacat plays each recording into as the press starts;
// the press records through the program's recorder from the default input
// and ends half a second after the recording did. Argument 0: presses of a
// program that has recognized before; 1: each press is the first of a newly
// started program, whose recognizer still has to load, that heard the
// microphone in an earlier run; 2: the same where it never heard it.
void BM_RecognitionHoldServer(benchmark::State& state)
{
    if (!privateServer(state))
        return;
    const auto set = recordings(state, 1);
    if (set.empty())
        return;
    const int sink = loadModule("module-null-sink sink_name=bench_voice rate=48000 channels=1");
    const int source = loadModule("module-remap-source master=bench_voice.monitor source_name=bench_mic "
                                  "\"source_properties='device.api=alsa device.description=Microphone'\"");
    const auto unload = [&] {
        for (const int module : {source, sink})
            if (module >= 0)
                run("pactl unload-module " + std::to_string(module));
    };
    if (sink < 0 || source < 0 || !run("pactl set-default-source bench_mic")) {
        unload();
        state.SkipWithError("the server would not make the microphone");
        return;
    }
    rt::SystemRuntime runtime;
    auto service = std::make_shared<sys::SphinxSpeechRecognitionService>();
    sys::PulseAudioSystem system;
    AudioSystemScope scope(system);
    const Run run = state.range(0) == 1 ? Run::newHeardBefore : state.range(0) == 2 ? Run::newNeverHeard : Run::going;
    std::shared_ptr<FirstBufferTimer> timer;
    auto recorder = std::make_shared<OwnSpeechRecorder>(
        std::make_shared<EchoGuard>(std::make_shared<FarEndActivity>()),
        [&](const std::string& locale, SpeechEngine, RecognitionMode mode) {
            timer = std::make_shared<FirstBufferTimer>(std::make_shared<OnDeviceSession>(locale, mode, service));
            return timer;
        });
    WordErrors errors;
    double firstBufferMs = 0;
    for (auto _ : state) {
        firstBufferMs = 0;
        errors = pressEach(set, run, service, [&](const Recording& recording) -> std::optional<std::string> {
            std::string heard;
            bool played = false;
            std::chrono::steady_clock::time_point pressed;
            runWhileFeeding(
                runtime,
                [&] {
                    // The key goes down and the speaker starts at once.
                    pressed = std::chrono::steady_clock::now();
                    rt::postToMain([&] {
                        rt::spawn([&]() -> rt::Async<void> {
                            co_await recorder->start(OwnSpeechRecording::Request(
                                "en-US", SpeechEngine::onDevice, false, std::nullopt, {}, {}, {}, [] { return true; }));
                        });
                    });
                    FILE* player = popen(
                        "pacat --raw --format=float32le --rate=48000 --channels=1 --latency-msec=50 -d bench_voice",
                        "w");
                    if (!player)
                        return;
                    played = std::fwrite(recording.at48k.data(), sizeof(float), recording.at48k.size(), player)
                        == recording.at48k.size();
                    played = pclose(player) == 0 && played;
                    std::this_thread::sleep_for(std::chrono::milliseconds(500));
                },
                [&]() -> rt::Async<void> { heard = co_await recorder->finish(); });
            if (!played) {
                state.SkipWithError("pacat could not play the recordings");
                return std::nullopt;
            }
            double ms = 0;
            if (timer && timer->first.load() != std::chrono::steady_clock::time_point{})
                ms = std::chrono::duration<double, std::milli>(timer->first.load() - pressed).count();
            firstBufferMs += ms / static_cast<double>(set.size());
            show("hold through the server",
                 "(first buffer at " + std::to_string(static_cast<int>(ms)) + " ms) " + heard);
            return heard;
        });
    }
    unload();
    report(state, errors);
    // From the press to the microphone's first buffer (4096 frames) reaching
    // recognition, on average.
    state.counters["first_buffer_ms"] = firstBufferMs;
}
BENCHMARK(BM_RecognitionHoldServer)->ArgsProduct({{0, 1, 2}, {0, 1}})->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
