#include "platform/linux/sphinx/SphinxSpeechRecognizer.h"
#include "runtime/ManualRuntime.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

using namespace parlaro;

namespace {

constexpr const char* recording = "/usr/share/pocketsphinx/test/data/goforward.raw";

std::vector<std::int16_t> readRecording()
{
    std::ifstream in(recording, std::ios::binary);
    std::vector<std::int16_t> samples;
    std::int16_t sample = 0;
    while (in.read(reinterpret_cast<char*>(&sample), sizeof sample))
        samples.push_back(sample);
    return samples;
}

struct Outcome {
    std::vector<SpeechRecognitionResult> results;
    std::vector<DomainError> errors;
};

// Feeds the recording in 0.1 s buffers of the given format, ends the audio and
// drives the main executor until the task has answered for the last time.
// The decoder runs on its own thread, so this waits for it in real time; a
// watchdog ends the wait should the answer never come.
Outcome recognize(rt::ManualRuntime& runtime, SpeechRecognizer& recognizer, const std::vector<std::int16_t>& samples,
                  const AudioFormat& format)
{
    Outcome outcome;
    auto request = recognizer.makeRequest();
    request->options.requiresOnDeviceRecognition = true;
    request->options.taskHint = SpeechTaskHint::dictation;
    auto task = recognizer.recognitionTask(request, [&](const auto& result, const auto& error) {
        if (result)
            outcome.results.push_back(*result);
        if (error)
            outcome.errors.push_back(*error);
        if (error || (result && result->isFinal))
            runtime.executor().stop();
    });
    constexpr std::size_t chunk = 1600;
    for (std::size_t at = 0; at < samples.size(); at += chunk) {
        std::size_t frames = std::min(chunk, samples.size() - at);
        PcmBuffer buffer(format, frames);
        buffer.setFrameLength(frames);
        for (std::size_t f = 0; f < frames; ++f)
            buffer.setFloatSample(f, 0, int16ToFloat(samples[at + f]));
        request->append(buffer);
    }
    request->endAudio();

    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (!done.wait_for(lock, std::chrono::seconds(120), [&] { return finished; }))
            runtime.executor().stop();
    });
    runtime.executor().run();
    {
        std::lock_guard lock(mutex);
        finished = true;
    }
    done.notify_all();
    watchdog.join();
    return outcome;
}

} // namespace

TEST(SphinxSpeechRecognizer, findsRecognizersOnlyForInstalledModelsAndAlwaysAuthorizes)
{
    rt::ManualRuntime runtime;
    auto models = sys::installedSphinxModels();
    bool english = std::any_of(models.begin(), models.end(), [](const auto& m) { return m.locale == "en-US"; });
    if (!english)
        GTEST_SKIP() << "The US English pocketsphinx model is not installed (package pocketsphinx-en-us)";

    sys::SphinxSpeechRecognitionService service;
    std::optional<SpeechAuthorizationStatus> status;
    service.requestAuthorization([&](SpeechAuthorizationStatus s) { status = s; });
    EXPECT_EQ(status, SpeechAuthorizationStatus::authorized);

    auto recognizer = service.makeRecognizer("en-US");
    ASSERT_NE(recognizer, nullptr);
    EXPECT_EQ(recognizer->locale(), "en-US");
    EXPECT_TRUE(recognizer->supportsOnDeviceRecognition());
    EXPECT_EQ(recognizer->makeRequest()->nativeAudioFormat(), (AudioFormat{16000, 1, SampleType::int16, true}));
    EXPECT_NE(service.makeRecognizer("en_US"), nullptr);
    EXPECT_NE(service.makeRecognizer("en"), nullptr);
    EXPECT_EQ(service.makeRecognizer("en-GB"), nullptr);
    EXPECT_EQ(service.makeRecognizer("de-DE"), nullptr);
    EXPECT_EQ(service.makeRecognizer(""), nullptr);

    sys::SphinxSpeechRecognitionService empty("/nonexistent/models");
    EXPECT_EQ(empty.makeRecognizer("en-US"), nullptr);
}

TEST(SphinxSpeechRecognizer, recognizesTheRecordingWithPartialResultsAndWordRanges)
{
    rt::ManualRuntime runtime;
    auto models = sys::installedSphinxModels();
    if (std::none_of(models.begin(), models.end(), [](const auto& m) { return m.locale == "en-US"; }))
        GTEST_SKIP() << "The US English pocketsphinx model is not installed (package pocketsphinx-en-us)";
    if (!std::filesystem::exists(recording))
        GTEST_SKIP() << "The recording " << recording << " is not installed (package pocketsphinx-testdata)";

    sys::SphinxSpeechRecognitionService service;
    auto recognizer = service.makeRecognizer("en-US");
    ASSERT_NE(recognizer, nullptr);
    auto samples = readRecording();
    ASSERT_GT(samples.size(), 16000u);

    // The decoder loaded for the first request serves the second, which
    // brings the same audio as non-interleaved floats.
    for (auto format : {AudioFormat{16000, 1, SampleType::int16, true}, AudioFormat{16000, 1, SampleType::float32, false}}) {
        SCOPED_TRACE(format.description());
        auto outcome = recognize(runtime, *recognizer, samples, format);
        EXPECT_TRUE(outcome.errors.empty());
        ASSERT_GE(outcome.results.size(), 2u);
        for (std::size_t i = 0; i + 1 < outcome.results.size(); ++i)
            EXPECT_FALSE(outcome.results[i].isFinal);
        const auto& final = outcome.results.back();
        EXPECT_TRUE(final.isFinal);
        EXPECT_EQ(final.bestTranscription.formattedString, "go forward ten meters");
        EXPECT_EQ(final.bestTranscription.segments,
                  (std::vector<TranscriptionSegment>{{"go", {0, 2}}, {"forward", {3, 7}}, {"ten", {11, 3}},
                                                     {"meters", {15, 6}}}));
    }
}
