#include "audio/AudioDeviceWatcher.h"
#include "audio/AudioDevices.h"
#include "audio/AudioServerWatcher.h"
#include "audio/AudioServiceRestartWatcher.h"
#include "platform/sim/SimAudioSystem.h"
#include "platform/sim/SimPlatform.h"
#include "runtime/ManualRuntime.h"
#include "support/SimDevices.h"

#include <gtest/gtest.h>

#include <unordered_set>

namespace parlaro {
namespace {

using sim::AudioOperation;

std::vector<AudioObjectId> ids(const std::vector<AudioDevice>& devices)
{
    std::vector<AudioObjectId> result;
    for (const auto& d : devices)
        result.push_back(d.id);
    return result;
}

TEST(AudioDevices, ListingWithFallbacksForFailedReads)
{
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimAudioSystem sim;
    sim.addDevice(test::simDevice(73, "unnamed-uid")
                      .input({2})
                      .output({1, 1})
                      .transport(AudioTransports::usb)
                      .source(AudioDataSources::headphones));
    sim.addDevice(test::simDevice(74, "com.parlaro.listen.5D0C").named("Parlaro Listen").input({2}));
    sim.addDevice(test::simDevice(75, "broken-uid").named("Broken").input({2}).output({2}));
    auto companion = test::simDevice(76, injectionUID).named("Injection").input({2}).output({2});
    sim.addDevice(companion.unlisted());

    // Reads of the broken device fail one by one.
    sim.fail(75, "uid "_fcc, AudioOperation::getPropertyData, AudioStatuses::unspecified);
    sim.fail(75, "slay"_fcc, AudioOperation::getPropertyDataSize, AudioStatuses::unspecified);
    sim.fail(75, "tran"_fcc, AudioOperation::getPropertyData, AudioStatuses::unspecified);

    const auto devices = AudioDevices::allDevices();
    ASSERT_EQ(ids(devices), (std::vector<AudioObjectId>{73, 75, 76}));
    EXPECT_EQ(devices[0], (AudioDevice{73, "Device 73", "unnamed-uid", 2, 2, "usb "_fcc, "hdpn"_fcc}));
    EXPECT_EQ(devices[1], (AudioDevice{75, "Broken", "", 0, 0, 0, 0}));
    EXPECT_EQ(devices[2].uid, injectionUID);

    // A failed data read of the layout counts 0 as well.
    sim.clearFailures();
    sim.fail(75, "slay"_fcc, AudioOperation::getPropertyData, AudioStatuses::unspecified);
    EXPECT_EQ(AudioDevices::allDevices()[1].inputChannels, 0);
    sim.clearFailures();

    // Listed by the system, the companion keeps its own place, once.
    sim.removeObject(76);
    sim.addDevice(companion.listed());
    sim.addDevice(test::simDevice(77, "late").named("Late").output({2}));
    EXPECT_EQ(ids(AudioDevices::allDevices()), (std::vector<AudioObjectId>{73, 75, 76, 77}));
    EXPECT_EQ(ids(AudioDevices::outputDevices()), (std::vector<AudioObjectId>{73, 75, 76, 77}));
    sim.store(73, {"slay"_fcc, AudioScope::output}, AudioBufferLayout{});
    EXPECT_EQ(ids(AudioDevices::outputDevices()), (std::vector<AudioObjectId>{75, 76, 77}));

    // A device list that cannot be read is an empty list.
    sim.fail(audioSystemObject, "dev#"_fcc, AudioOperation::getPropertyDataSize, AudioStatuses::unspecified, 1);
    EXPECT_TRUE(AudioDevices::allDevices().empty());
    sim.fail(audioSystemObject, "dev#"_fcc, AudioOperation::getPropertyData, AudioStatuses::unspecified, 1);
    EXPECT_TRUE(AudioDevices::allDevices().empty());

    // Lookups are absent when they fail or give 0.
    EXPECT_EQ(AudioDevices::deviceID("late"), 77u);
    EXPECT_EQ(AudioDevices::deviceID("nobody"), std::nullopt);
    EXPECT_EQ(AudioDevices::defaultDeviceID(true), std::nullopt);
    sim.setDefaultDevice(true, 73);
    EXPECT_EQ(AudioDevices::defaultDeviceID(true), 73u);
    sim.fail(audioSystemObject, "dIn "_fcc, AudioOperation::getPropertyData, AudioStatuses::unspecified, 1);
    EXPECT_EQ(AudioDevices::defaultDeviceID(true), std::nullopt);

    // Rates: a single value, then a wider range's ends, in order.
    sim.store(73, {"nsr#"_fcc}, std::vector<AudioValueRange>{{48000, 48000}, {8000, 96000}});
    EXPECT_EQ(AudioDevices::nominalSampleRates(73), (std::vector<double>{48000, 8000, 96000}));
    sim.store(73, {"nsr#"_fcc}, std::vector<AudioValueRange>{});
    EXPECT_TRUE(AudioDevices::nominalSampleRates(73).empty());
    sim.fail(77, "nsr#"_fcc, AudioOperation::getPropertyDataSize, AudioStatuses::unspecified);
    EXPECT_TRUE(AudioDevices::nominalSampleRates(77).empty());

    // This process's process object, by pid.
    EXPECT_EQ(AudioDevices::ownProcessObject(), std::nullopt);
    sim.setCurrentProcessID(321);
    sim.addProcess({600, 321, "com.parlaro.Parlaro", false, false, {}, {}});
    EXPECT_EQ(AudioDevices::ownProcessObject(), 600u);
}

TEST(AudioDevices, HeadphonesAndIdentity)
{
    auto make = [](std::string name, std::int64_t outputs, std::uint32_t source) {
        return AudioDevice{1, std::move(name), "uid", 0, outputs, 0, source};
    };
    EXPECT_FALSE(make("Headphones", 0, "hdpn"_fcc).isHeadphones());
    EXPECT_TRUE(make("AirPods Pro", 2, 0).isHeadphones());
    EXPECT_TRUE(make("Built-in Output", 2, "hdpn"_fcc).isHeadphones());
    EXPECT_FALSE(make("My HEADPHONE thing", 2, "ispk"_fcc).isHeadphones());
    EXPECT_TRUE(make("USB HEADSET", 2, 0).isHeadphones());
    EXPECT_TRUE(make("蓝牙耳机", 2, 0).isHeadphones());
    EXPECT_TRUE(make("Galaxy Buds2", 2, 0).isHeadphones());
    EXPECT_FALSE(make("Studio Display Speakers", 2, 0).isHeadphones());

    const AudioDevice a{5, "A", "uid-a", 1, 2, 3, 4};
    AudioDevice b = a;
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<AudioDevice>{}(a), std::hash<AudioDevice>{}(b));
    b.outputSource = 9;
    EXPECT_NE(a, b);
    std::unordered_set<AudioDevice> set{a, b};
    EXPECT_EQ(set.size(), 2u);
}

TEST(AudioDevices, SwitchingADefaultReportsItsStatus)
{
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimAudioSystem sim;
    sim.addDevice(test::simDevice(10, "mic").named("Mic").input({1}));
    sim.addDevice(test::simDevice(30, "spk").named("Speakers").output({2}));

    AudioDevices::setDefaultDevice(10, true);
    AudioDevices::setDefaultDevice(30, false);
    EXPECT_EQ(sim.defaultDevice(true), 10u);
    EXPECT_EQ(sim.defaultDevice(false), 30u);

    auto failure = [](auto call) -> std::optional<DomainError> {
        try {
            call();
        } catch (const DomainError& error) {
            return error;
        }
        return std::nullopt;
    };

    // A success code is no failure, though the server may apply the switch
    // only later, nor is a write the server did not answer in time.
    sim.setDefaultDevice(true, 0);
    sim.setDefaultSwitch(true, sim::DefaultSwitch::ignored);
    EXPECT_EQ(failure([] { AudioDevices::setDefaultDevice(10, true); }), std::nullopt);
    EXPECT_EQ(sim.defaultDevice(true), std::nullopt);
    sim.fail(audioSystemObject, "dIn "_fcc, AudioOperation::setPropertyData, AudioStatuses::unanswered);
    EXPECT_EQ(failure([] { AudioDevices::setDefaultDevice(10, true); }), std::nullopt);

    sim.fail(audioSystemObject, "dOut"_fcc, AudioOperation::setPropertyData, -50);
    EXPECT_EQ(failure([] { AudioDevices::setDefaultDevice(30, false); }),
              DomainError("SystemAudio", -50, "无法切换系统声音输出（-50）"));
    sim.fail(audioSystemObject, "dOut"_fcc, AudioOperation::setPropertyData, AudioStatuses::unknownProperty);
    EXPECT_EQ(failure([] { AudioDevices::setDefaultDevice(30, false); }),
              DomainError("SystemAudio", 2003332927, "无法切换系统声音输出（2003332927）"));
}

TEST(AudioDevices, TheNominalRateIsReadAndWritten)
{
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimAudioSystem sim;
    sim.addDevice(test::simDevice(30, "spk").named("Speakers").output({2}));
    const AudioPropertyAddress rate{"nsrt"_fcc, AudioScope::global, 0};

    EXPECT_EQ(AudioDevices::nominalSampleRate(30), 48000.0);
    EXPECT_TRUE(AudioDevices::setNominalSampleRate(30, 44100.0));
    EXPECT_EQ(AudioDevices::nominalSampleRate(30), 44100.0);
    ASSERT_EQ(sim.sets(30, rate).size(), 1u);
    EXPECT_EQ(sim.sets(30, rate)[0].value, AudioPropertyValue(44100.0));

    // A refused write is false; a rate that cannot be read, or is not above
    // 0, is none.
    sim.fail(30, "nsrt"_fcc, AudioOperation::setPropertyData, AudioStatuses::unspecified, 1);
    EXPECT_FALSE(AudioDevices::setNominalSampleRate(30, 96000.0));
    EXPECT_EQ(AudioDevices::nominalSampleRate(30), 44100.0);
    EXPECT_EQ(AudioDevices::nominalSampleRate(99), std::nullopt);
    sim.store(30, rate, 0.0);
    EXPECT_EQ(AudioDevices::nominalSampleRate(30), std::nullopt);
    sim.store(30, rate, -1.0);
    EXPECT_EQ(AudioDevices::nominalSampleRate(30), std::nullopt);
}

TEST(AudioDevices, RateAndRestartWatchesLiveAsLongAsTheirObject)
{
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimAudioSystem sim;
    sim.addDevice(test::simDevice(30, "spk").named("Speakers").output({2}));

    std::vector<std::string> calls;
    auto rates = AudioDevices::RateWatch::make(30, [&calls](std::span<const AudioPropertyAddress> addresses) {
        calls.push_back("rate " + std::to_string(addresses.size()) + " " + fourCharText(addresses[0].selector));
    });
    ASSERT_TRUE(rates);
    auto restarts = AudioServiceRestartWatcher::make(
        [&calls](std::span<const AudioPropertyAddress>) { calls.push_back("restart"); });
    const auto listeners = sim.listeners();
    ASSERT_EQ(listeners.size(), 2u);
    EXPECT_EQ(listeners[0].object, 30u);
    EXPECT_EQ(listeners[0].address, (AudioPropertyAddress{"nsrt"_fcc}));
    EXPECT_EQ(listeners[0].queue, "main");
    EXPECT_EQ(listeners[1].object, audioSystemObject);
    EXPECT_EQ(listeners[1].address, (AudioPropertyAddress{AudioSelectors::serviceRestarted}));

    sim.notify(30, {"nsrt"_fcc});
    sim.notify(audioSystemObject, {AudioSelectors::serviceRestarted});
    EXPECT_TRUE(calls.empty());  // they run on the main actor
    runtime.runUntilIdle();
    EXPECT_EQ(calls, (std::vector<std::string>{"rate 1 nsrt", "restart"}));

    // Released with a notification on its way: it never arrives.
    sim.notify(30, {"nsrt"_fcc});
    rates.reset();
    restarts.reset();
    runtime.runUntilIdle();
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_TRUE(sim.listeners().empty());

    // A rate watch that cannot register is no watch; the restart watcher
    // ignores its status.
    sim.fail(sim::anyObject, sim::anySelector, AudioOperation::addPropertyListener, AudioStatuses::unspecified);
    EXPECT_EQ(AudioDevices::RateWatch::make(30, [](auto) {}), nullptr);
    EXPECT_NE(AudioServiceRestartWatcher::make([](auto) {}), nullptr);
    EXPECT_TRUE(sim.listeners().empty());
}

TEST(AudioDeviceWatcher, DebouncesBurstsOnItsQueueAndDeliversOnTheMainActor)
{
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimAudioSystem sim;
    sim.addDevice(test::simDevice(10, "mic").named("Mic").input({1}));

    int reads = 0;
    bool readOnQueue = false;
    std::vector<std::pair<std::size_t, double>> deliveries;
    std::shared_ptr<AudioDeviceWatcher> watcher;
    watcher = AudioDeviceWatcher::make(
        [&] {
            ++reads;
            readOnQueue = watcher->queue()->isCurrent();
            return AudioDevices::allDevices();
        },
        [&deliveries](std::vector<AudioDevice> devices, rt::Instant instant) {
            deliveries.emplace_back(devices.size(), instant.seconds());
        });
    EXPECT_EQ(watcher->queue()->label(), "com.parlaro.device-watch");

    watcher->start();
    watcher->start();
    ASSERT_EQ(sim.listeners().size(), 3u);
    for (const auto& listener : sim.listeners())
        EXPECT_EQ(listener.queue, "com.parlaro.device-watch");

    // Three notifications 0.1 s apart, on all three selectors: one read, one
    // delivery at 0.3 s after the first.
    sim.notify(audioSystemObject, {"dev#"_fcc});
    runtime.advance(0.1);
    sim.notify(audioSystemObject, {"dIn "_fcc});
    runtime.advance(0.1);
    sim.notify(audioSystemObject, {"dOut"_fcc});
    runtime.advance(0.099);
    EXPECT_TRUE(deliveries.empty());
    runtime.advance(0.002);
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(reads, 1);
    EXPECT_TRUE(readOnQueue);
    EXPECT_EQ(deliveries[0].first, 1u);
    EXPECT_NEAR(deliveries[0].second, 0.3, 1e-9);

    // A later burst is a new delivery; one scheduled before stop() still comes.
    sim.notify(audioSystemObject, {"dev#"_fcc});
    runtime.runUntilIdle();
    watcher->stop();
    watcher->stop();
    EXPECT_TRUE(sim.listeners().empty());
    runtime.advance(0.5);
    EXPECT_EQ(deliveries.size(), 2u);

    // Started again, then released with a delivery pending: nothing arrives
    // and nothing stays registered.
    watcher->start();
    EXPECT_EQ(sim.listeners().size(), 3u);
    sim.notify(audioSystemObject, {"dev#"_fcc});
    runtime.runUntilIdle();
    watcher.reset();
    EXPECT_TRUE(sim.listeners().empty());
    runtime.advance(1.0);
    EXPECT_EQ(deliveries.size(), 2u);
    EXPECT_EQ(reads, 2);

    const auto events = sim.events();
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const auto& e) { return e.kind == sim::SimAudioEvent::Kind::added; }),
              6);
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const auto& e) { return e.kind == sim::SimAudioEvent::Kind::removed; }),
              6);
}

TEST(AudioDevices, TheServerWatcherTellsOnlyRealComingsAndGoings)
{
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimAudioSystem sim;
    constexpr AudioPropertyAddress running{AudioSelectors::serviceRunning};
    std::vector<bool> told;

    // A system that never says its server is gone has one that runs.
    EXPECT_TRUE(AudioServerWatcher::serverRunning());
    sim.store(audioSystemObject, running, std::uint32_t{0});
    EXPECT_FALSE(AudioServerWatcher::serverRunning());
    auto watcher = AudioServerWatcher::make([&told](bool now) { told.push_back(now); });
    EXPECT_FALSE(watcher->running());

    sim.notify(audioSystemObject, running);
    runtime.runUntilIdle();
    EXPECT_TRUE(told.empty());
    sim.store(audioSystemObject, running, std::uint32_t{1});
    sim.notify(audioSystemObject, running);
    EXPECT_TRUE(told.empty());  // on the main actor
    runtime.runUntilIdle();
    sim.store(audioSystemObject, running, std::uint32_t{0});
    sim.notify(audioSystemObject, running);
    runtime.runUntilIdle();
    EXPECT_EQ(told, (std::vector<bool>{true, false}));
    EXPECT_FALSE(watcher->running());

    // A failed read is taken as a running server: only one that says it is
    // gone is gone.
    sim.fail(audioSystemObject, AudioSelectors::serviceRunning, AudioOperation::getPropertyData,
             AudioStatuses::unknownProperty);
    sim.notify(audioSystemObject, running);
    runtime.runUntilIdle();
    EXPECT_EQ(told, (std::vector<bool>{true, false, true}));

    watcher.reset();
    EXPECT_EQ(sim.listenerCount(audioSystemObject, running), 0u);
}

}  // namespace
}  // namespace parlaro
