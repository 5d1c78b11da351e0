#include "platform/linux/sphinx/SphinxSpeechRecognizer.h"
#include "platform/sim/SimPlatform.h"
#include "runtime/ManualRuntime.h"
#include "speech/OnDeviceSession.h"
#include "support/PocketsphinxRecordings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace parlaro;

namespace {

constexpr const char* firstRecording = "/usr/share/pocketsphinx/test/data/goforward.raw";
// "he was not an ill disposed young man", after a wave header.
constexpr const char* readerRecording =
    "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav";

}  // namespace

// The user holds the talk key with "translate while holding" on and says two
// sentences with a pause between them: the first is released while the key
// is still held, the second when it is let go.
TEST(HeldSpeechOnPocketsphinx, TheFirstSentenceIsReleasedWhileTheKeyIsHeld)
{
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    if (const auto missing = test::missingEnglishSphinx({firstRecording, readerRecording}))
        GTEST_SKIP() << *missing;

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

    // Words that read as two sentences across an ordinary pause.
    auto samples = test::readSamples(firstRecording);
    samples.insert(samples.end(), 16000, 0);
    const auto reader = test::readSamples(readerRecording, 44);
    samples.insert(samples.end(), reader.begin(), reader.end());
    constexpr std::size_t chunk = 1600;
    for (std::size_t at = 0; at < samples.size(); at += chunk) {
        const std::size_t frames = std::min(chunk, samples.size() - at);
        auto buffer = std::make_shared<PcmBuffer>(AudioFormat{16000, 1, SampleType::int16, true}, frames);
        buffer->setFrameLength(frames);
        std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(at), frames, buffer->int16ChannelData(0));
        session->append(buffer);
    }

    // Still held: the first sentence comes out on its own.
    test::runUntilStopped(runtime);
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
        test::runUntilStopped(runtime);
    EXPECT_TRUE(finished);
    EXPECT_TRUE(failures.empty());
    ASSERT_EQ(sentences.size(), 2u);
    EXPECT_EQ(sentences[0], "Go forward ten meters.");
    EXPECT_TRUE(sentences[1].starts_with("He was not")) << sentences[1];
    EXPECT_EQ(live.rfind("He", 0), 0u) << live;
}

// A pause inside a sentence sends nothing while the key is held: "I think"
// alone would reach the other party as a sentence of its own.
TEST(HeldSpeechOnPocketsphinx, APauseInsideASentenceSendsNothingWhileTheKeyIsHeld)
{
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    if (const auto missing = test::missingEnglishSphinx())
        GTEST_SKIP() << *missing;
    const auto samples =
        test::espoken("en-us+f2", "I think <break time='900ms'/> the price is too high for a small company.");
    if (!samples)
        GTEST_SKIP() << "espeak-ng is not installed";

    auto service = std::make_shared<sys::SphinxSpeechRecognitionService>();
    auto session = std::make_shared<OnDeviceSession>("en-US", RecognitionMode::held, service);
    std::vector<std::string> sentences;
    std::string live;
    auto start = rt::spawn([&]() -> rt::Async<void> {
        co_await session->start(
            [&](const std::string& text, bool isFinal) {
                if (isFinal)
                    sentences.push_back(text);
                else
                    live = text;
            },
            [&](const ModuleError&) { runtime.executor().stop(); });
    });
    runtime.runUntilIdle();
    ASSERT_TRUE(start.isFinished());
    start.result();
    constexpr std::size_t chunk = 1600;
    for (std::size_t at = 0; at < samples->size(); at += chunk) {
        const std::size_t frames = std::min(chunk, samples->size() - at);
        auto buffer = std::make_shared<PcmBuffer>(AudioFormat{16000, 1, SampleType::int16, true}, frames);
        buffer->setFrameLength(frames);
        std::copy_n(samples->begin() + static_cast<std::ptrdiff_t>(at), frames, buffer->int16ChannelData(0));
        session->append(buffer);
    }
    bool finished = false;
    auto finish = rt::spawn([&]() -> rt::Async<void> {
        co_await session->finish();
        finished = true;
        runtime.executor().stop();
    });
    test::runUntilStopped(runtime);
    ASSERT_TRUE(finished);
    ASSERT_EQ(sentences.size(), 1u) << sentences.front();
    EXPECT_NE(sentences.front().find("I think the price is too high"), std::string::npos) << sentences.front();
}
