#include "platform/linux/sphinx/SphinxSpeechRecognizer.h"
#include "platform/sim/SimPlatform.h"
#include "runtime/ManualRuntime.h"
#include "speech/OnDeviceSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

using namespace parlaro;

namespace {

constexpr const char* firstRecording = "/usr/share/pocketsphinx/test/data/goforward.raw";
constexpr const char* secondRecording = "/usr/share/pocketsphinx/test/data/something.raw";

std::vector<std::int16_t> readRecording(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::int16_t> samples;
    std::int16_t sample = 0;
    while (in.read(reinterpret_cast<char*>(&sample), sizeof sample))
        samples.push_back(sample);
    return samples;
}

// Drives the main executor until a callback stops it. The decoder answers
// from its own thread in real time; a watchdog ends the wait should it
// never answer.
void runUntilStopped(rt::ManualRuntime& runtime)
{
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
}

}  // namespace

// The user holds the talk key with "translate while holding" on and says two
// sentences with a pause between them: the first is released while the key
// is still held, the second when it is let go.
TEST(HeldSpeechOnPocketsphinx, TheFirstSentenceIsReleasedWhileTheKeyIsHeld)
{
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    auto models = sys::installedSphinxModels();
    if (std::none_of(models.begin(), models.end(), [](const auto& m) { return m.locale == "en-US"; }))
        GTEST_SKIP() << "The US English pocketsphinx model is not installed (package pocketsphinx-en-us)";
    if (!std::filesystem::exists(firstRecording) || !std::filesystem::exists(secondRecording))
        GTEST_SKIP() << "The recordings " << firstRecording << " and " << secondRecording
                     << " are not installed (package pocketsphinx-testdata)";

    auto service = std::make_shared<sys::SphinxSpeechRecognitionService>();
    auto session = std::make_shared<OnDeviceSession>("en-US", RecognitionMode::held, service);
    std::vector<std::string> sentences;
    std::string live;
    std::vector<std::string> failures;
    auto start = rt::spawn([&]() -> rt::Async<void> {
        co_await session->start(
            [&](const std::string& text, bool isFinal) {
                if (!isFinal) {
                    live = text;
                    return;
                }
                sentences.push_back(text);
                runtime.executor().stop();
            },
            [&](const ModuleError& error) {
                failures.push_back(error.localizedDescription());
                runtime.executor().stop();
            });
    });
    runtime.runUntilIdle();
    ASSERT_TRUE(start.isFinished());
    start.result();

    auto samples = readRecording(firstRecording);
    samples.insert(samples.end(), 16000, 0);
    auto second = readRecording(secondRecording);
    samples.insert(samples.end(), second.begin(), second.end());
    constexpr std::size_t chunk = 1600;
    for (std::size_t at = 0; at < samples.size(); at += chunk) {
        const std::size_t frames = std::min(chunk, samples.size() - at);
        auto buffer = std::make_shared<PcmBuffer>(AudioFormat{16000, 1, SampleType::int16, true}, frames);
        buffer->setFrameLength(frames);
        std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(at), frames, buffer->int16ChannelData(0));
        session->append(buffer);
    }

    // Still held: the first sentence comes out on its own.
    runUntilStopped(runtime);
    ASSERT_TRUE(failures.empty()) << failures.front();
    ASSERT_EQ(sentences, std::vector<std::string>{"Go forward ten meters."});

    // Let go: the rest follows as the last sentence.
    bool finished = false;
    auto finish = rt::spawn([&]() -> rt::Async<void> {
        co_await session->finish();
        finished = true;
        runtime.executor().stop();
    });
    for (int round = 0; round < 4 && !finished && failures.empty(); ++round)
        runUntilStopped(runtime);
    EXPECT_TRUE(finished);
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(sentences, (std::vector<std::string>{"Go forward ten meters.", "Go somewhere and do something"}));
    EXPECT_EQ(live.rfind("Go", 0), 0u) << live;
}
