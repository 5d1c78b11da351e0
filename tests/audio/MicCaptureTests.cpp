#include "audio/MicCapture.h"
#include "platform/sim/SimAudioSystem.h"
#include "platform/sim/SimPlatform.h"
#include "runtime/ManualRuntime.h"
#include "support/SimDevices.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

using sim::AudioOperation;

constexpr AudioObjectId builtIn = 60;
constexpr AudioObjectId headset = 61;

struct Recording {
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimAudioSystem system;
    std::shared_ptr<MicCapture> mic = std::make_shared<MicCapture>();
    std::vector<std::pair<std::shared_ptr<PcmBuffer>, std::optional<double>>> buffers;
    std::vector<std::string> failures;

    Recording()
    {
        system.addDevice(test::simDevice(builtIn, "BuiltInMic").named("MacBook Microphone").input({1}).rate(48000));
        system.addDevice(test::simDevice(headset, "USBHeadset").named("Headset").input({2}).rate(44100));
        system.setDefaultDevice(true, builtIn);
        system.setInputSignal(builtIn, [](std::uint32_t, double) { return 0.25f; });
    }

    void start(std::optional<AudioObjectId> device)
    {
        mic->start(
            device,
            [this](std::shared_ptr<PcmBuffer> buffer, std::optional<double> start) {
                buffers.emplace_back(std::move(buffer), start);
            },
            [this](const std::string& message) { failures.push_back(message); });
    }
    // The engine the capture runs now: the newest live one.
    std::shared_ptr<sim::SimInputEngine> engine() const
    {
        auto engines = system.inputEngines();
        return engines.empty() ? nullptr : engines.back();
    }
};

std::string errorOf(const std::function<void()>& action, std::string* domain = nullptr, std::int64_t* code = nullptr)
{
    try {
        action();
    } catch (const DomainError& error) {
        if (domain)
            *domain = error.domain();
        if (code)
            *code = error.code();
        return error.localizedDescription();
    }
    return "no error";
}

TEST(MicCapture, TapsTheChosenMicrophoneInItsOwnFormat)
{
    Recording t;
    // No device given: the system default input.
    t.start(std::nullopt);
    auto engine = t.engine();
    ASSERT_TRUE(engine);
    EXPECT_TRUE(t.mic->isRunning());
    EXPECT_TRUE(engine->isRunning());
    EXPECT_EQ(engine->inputDevice(), std::nullopt);
    EXPECT_EQ(engine->tapBufferFrames(), 4096u);
    EXPECT_EQ(engine->tapFormat(), (AudioFormat{48000, 1, SampleType::float32, false}));

    t.runtime.advance(2.0);
    ASSERT_TRUE(engine->deliver());
    ASSERT_TRUE(engine->deliver(4096, false));
    ASSERT_EQ(t.buffers.size(), 2u);
    EXPECT_EQ(t.buffers[0].first->frameLength(), 4096u);
    EXPECT_EQ(t.buffers[0].first->floatSample(0, 0), 0.25f);
    EXPECT_EQ(t.buffers[0].second, rt::clock().hostTime());
    EXPECT_EQ(t.buffers[1].second, std::nullopt);

    // A chosen device, at another rate: still 4096-frame taps.
    t.start(headset);
    auto second = t.engine();
    EXPECT_NE(second, engine);
    EXPECT_FALSE(engine->isRunning());
    EXPECT_FALSE(engine->hasTap());
    EXPECT_EQ(engine->observerCount(), 0u);
    EXPECT_EQ(second->inputDevice(), headset);
    EXPECT_EQ(second->tapBufferFrames(), 4096u);
    EXPECT_EQ(second->tapFormat(), (AudioFormat{44100, 2, SampleType::float32, false}));

    t.mic->stop();
    EXPECT_FALSE(t.mic->isRunning());
    EXPECT_FALSE(second->isRunning());
    EXPECT_TRUE(second->tappedAtStop());
    EXPECT_FALSE(second->hasTap());
    EXPECT_EQ(second->observerCount(), 0u);
    t.mic->stop();
    EXPECT_FALSE(second->deliver());
}

TEST(MicCapture, StartFailuresKeepNothing)
{
    Recording t;
    std::string domain;
    std::int64_t code = 0;

    // A microphone without a usable format.
    t.system.fail(sim::anyObject, sim::anySelector, AudioOperation::engineInputFormat, AudioStatuses::unspecified, 1);
    EXPECT_EQ(errorOf([&] { t.start(std::nullopt); }, &domain, &code), "麦克风当前不可用");
    EXPECT_EQ(domain, "Parlaro");
    EXPECT_EQ(code, 12);
    EXPECT_FALSE(t.mic->isRunning());
    t.system.addDevice(test::simDevice(62, "NoInput").output({2}));
    EXPECT_EQ(errorOf([&] { t.start(62); }, &domain, &code), "麦克风当前不可用");
    EXPECT_EQ(code, 12);

    // The device cannot be chosen: the platform's error as it is.
    t.system.fail(headset, sim::anySelector, AudioOperation::engineSetInputDevice, -10851, 1);
    EXPECT_EQ(errorOf([&] { t.start(headset); }, &domain, &code), "audio engine error -10851");
    EXPECT_EQ(domain, "AudioEngine");
    EXPECT_FALSE(t.mic->isRunning());

    // The engine does not start: its tap is taken off again.
    t.system.fail(sim::anyObject, sim::anySelector, AudioOperation::engineStart, -10868, 1);
    EXPECT_EQ(errorOf([&] { t.start(std::nullopt); }), "audio engine error -10868");
    EXPECT_FALSE(t.mic->isRunning());
    auto failed = t.engine();
    ASSERT_TRUE(failed == nullptr || !failed->hasTap());

    // A failed start after a good one leaves the capture stopped.
    t.start(std::nullopt);
    auto running = t.engine();
    t.system.fail(sim::anyObject, sim::anySelector, AudioOperation::engineStart, -10868, 1);
    EXPECT_EQ(errorOf([&] { t.start(std::nullopt); }), "audio engine error -10868");
    EXPECT_FALSE(running->isRunning());
    EXPECT_FALSE(t.mic->isRunning());
    EXPECT_TRUE(t.failures.empty());
}

TEST(MicCapture, SurvivesThreeStoppingChangesPerStart)
{
    Recording t;
    t.start(headset);
    auto first = t.engine();

    // A change that leaves the engine running is no attempt.
    for (int i = 0; i < 5; ++i) {
        first->changeConfiguration(false);
        t.runtime.runUntilIdle();
    }
    EXPECT_EQ(t.engine(), first);

    // Three stopping changes: each time a new engine on the same device.
    std::vector<std::shared_ptr<sim::SimInputEngine>> engines{first};
    for (int i = 0; i < 3; ++i) {
        engines.back()->changeConfiguration(true);
        t.runtime.runUntilIdle();
        auto next = t.engine();
        ASSERT_NE(next, engines.back());
        EXPECT_TRUE(next->isRunning());
        EXPECT_EQ(next->inputDevice(), headset);
        EXPECT_FALSE(engines.back()->hasTap());
        engines.push_back(next);
    }
    EXPECT_TRUE(t.failures.empty());
    ASSERT_TRUE(engines.back()->deliver());
    EXPECT_EQ(t.buffers.size(), 1u);

    // A replaced engine's changes are ignored.
    engines[1]->changeConfiguration(true);
    t.runtime.runUntilIdle();
    EXPECT_EQ(t.engine(), engines.back());
    EXPECT_TRUE(t.failures.empty());

    // The fourth ends the recording.
    engines.back()->changeConfiguration(true);
    t.runtime.runUntilIdle();
    EXPECT_EQ(t.failures, (std::vector<std::string>{"麦克风在录音时反复发生变化"}));
    EXPECT_FALSE(t.mic->isRunning());
    EXPECT_FALSE(engines.back()->hasTap());

    // A new start counts from zero again; a restart that fails ends it, in
    // the user's words: the engine's status code is not shown.
    t.failures.clear();
    t.start(std::nullopt);
    auto fresh = t.engine();
    fresh->changeConfiguration(true);
    t.runtime.runUntilIdle();
    EXPECT_TRUE(t.mic->isRunning());
    t.system.fail(sim::anyObject, sim::anySelector, AudioOperation::engineStart, -10868, 1);
    t.engine()->changeConfiguration(true);
    t.runtime.runUntilIdle();
    EXPECT_EQ(t.failures, (std::vector<std::string>{"麦克风在录音时断开或发生变化"}));
    EXPECT_FALSE(t.mic->isRunning());
    // A reason of the program's own is told.
    t.failures.clear();
    t.start(std::nullopt);
    t.system.fail(sim::anyObject, sim::anySelector, AudioOperation::engineInputFormat, AudioStatuses::unspecified, 1);
    t.engine()->changeConfiguration(true);
    t.runtime.runUntilIdle();
    EXPECT_EQ(t.failures, (std::vector<std::string>{"麦克风在录音时断开或发生变化（麦克风当前不可用）"}));
}

}  // namespace
}  // namespace parlaro
