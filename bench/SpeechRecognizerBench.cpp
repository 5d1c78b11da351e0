#include "platform/linux/sphinx/SphinxSpeechRecognizer.h"
#include "runtime/ManualRuntime.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

using namespace parlaro;

namespace {

constexpr const char* recording = "/usr/share/pocketsphinx/test/data/goforward.raw";

// The first second of the recording, which holds its first word.
std::vector<PcmBuffer> firstSecond()
{
    std::ifstream in(recording, std::ios::binary);
    std::vector<std::int16_t> samples(16000);
    in.read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 2));
    samples.resize(static_cast<std::size_t>(in.gcount()) / 2);
    std::vector<PcmBuffer> buffers;
    constexpr std::size_t chunk = 1600;
    for (std::size_t at = 0; at < samples.size(); at += chunk) {
        const std::size_t frames = std::min(chunk, samples.size() - at);
        PcmBuffer buffer(AudioFormat{16000, 1, SampleType::int16, true}, frames);
        buffer.setFrameLength(frames);
        std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(at), frames, buffer.int16ChannelData(0));
        buffers.push_back(std::move(buffer));
    }
    return buffers;
}

bool available()
{
    auto models = sys::installedSphinxModels();
    return std::filesystem::exists(recording)
        && std::any_of(models.begin(), models.end(), [](const auto& m) { return m.locale == "en-US"; });
}

// One press of the talk key: a recognizer, a request and a task, the first
// second of speech, until the first live text arrives. Everything is
// released afterwards, as when a session ends. Seconds from the press to the
// first partial result.
double press(rt::ManualRuntime& runtime, sys::SphinxSpeechRecognitionService& service,
             const std::vector<PcmBuffer>& audio)
{
    const auto begun = std::chrono::steady_clock::now();
    auto recognizer = service.makeRecognizer("en-US");
    auto request = recognizer->makeRequest();
    request->options.addsPunctuation = true;
    bool heard = false;
    auto task = recognizer->recognitionTask(request, [&](const auto& result, const auto&) {
        if (!heard && result && !result->bestTranscription.formattedString.empty()) {
            heard = true;
            runtime.executor().stop();
        }
    });
    for (const auto& buffer : audio)
        request->append(buffer);
    runtime.executor().run();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    task->cancel();
    return seconds;
}

// A press after an earlier one whose session has ended: the program's one
// service still holds the locale's model.
void BM_SphinxFirstPartialOfSecondPress(benchmark::State& state)
{
    if (!available()) {
        state.SkipWithError("the US English pocketsphinx model or its test recording is not installed");
        return;
    }
    rt::ManualRuntime runtime;
    const auto audio = firstSecond();
    sys::SphinxSpeechRecognitionService service;
    press(runtime, service, audio);
    for (auto _ : state)
        state.SetIterationTime(press(runtime, service, audio));
}
BENCHMARK(BM_SphinxFirstPartialOfSecondPress)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// The very first press of the program, which loads the model.
void BM_SphinxFirstPartialOfFirstPress(benchmark::State& state)
{
    if (!available()) {
        state.SkipWithError("the US English pocketsphinx model or its test recording is not installed");
        return;
    }
    rt::ManualRuntime runtime;
    const auto audio = firstSecond();
    for (auto _ : state) {
        sys::SphinxSpeechRecognitionService service;
        state.SetIterationTime(press(runtime, service, audio));
    }
}
BENCHMARK(BM_SphinxFirstPartialOfFirstPress)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
