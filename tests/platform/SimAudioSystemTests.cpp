#include "platform/sim/SimAudioSystem.h"
#include "runtime/ManualRuntime.h"
#include "support/SimDevices.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

namespace parlaro {
namespace {

using sim::AudioOperation;
using sim::SimAudioEvent;
using sim::SimAudioSystem;
using sim::SimDevice;

SimDevice microphone()
{
    return test::simDevice(40, "mic-uid").named("USB Mic").input({1}).transport(AudioTransports::usb).rate(44100);
}

SimDevice speakers()
{
    return test::simDevice(41, "spk-uid").named("Speakers").output({2}).source(AudioDataSources::internalSpeaker);
}

TEST(SimAudioSystem, PropertiesFailuresAndTheSystemObject)
{
    rt::ManualRuntime runtime;
    SimAudioSystem sim;
    EXPECT_EQ(&audioSystem(), &sim);
    sim.addDevice(microphone());
    sim.addDevice(speakers());
    SimDevice hidden = speakers();
    hidden.id = 42;
    hidden.uid = "hidden-uid";
    hidden.listed = false;
    sim.addDevice(hidden);

    std::vector<std::uint32_t> devices;
    EXPECT_EQ(sim.get(audioSystemObject, {"dev#"_fcc}, devices), AudioStatuses::ok);
    EXPECT_EQ(devices, (std::vector<std::uint32_t>{40, 41}));
    std::uint32_t size = 0;
    EXPECT_EQ(sim.getPropertyDataSize(audioSystemObject, {"dev#"_fcc}, size), AudioStatuses::ok);
    EXPECT_EQ(size, 8u);

    const AudioPropertyValue uid = AudioString("hidden-uid");
    std::uint32_t found = 0;
    EXPECT_EQ(sim.get(audioSystemObject, {"uidd"_fcc}, found, &uid), AudioStatuses::ok);
    EXPECT_EQ(found, 42u);
    const AudioPropertyValue unknownUID = AudioString("nobody");
    EXPECT_EQ(sim.get(audioSystemObject, {"uidd"_fcc}, found, &unknownUID), AudioStatuses::ok);
    EXPECT_EQ(found, 0u);

    AudioString name;
    EXPECT_EQ(sim.get(40, {"lnam"_fcc}, name), AudioStatuses::ok);
    EXPECT_EQ(name, "USB Mic");
    AudioBufferLayout layout;
    EXPECT_EQ(sim.get(41, {"slay"_fcc, AudioScope::output}, layout), AudioStatuses::ok);
    EXPECT_EQ(layout.totalChannels(), 2u);
    EXPECT_EQ(sim.getPropertyDataSize(41, {"slay"_fcc, AudioScope::output}, size), AudioStatuses::ok);
    EXPECT_EQ(size, 20u);
    std::uint32_t source = 0;
    EXPECT_EQ(sim.get(40, {"ssrc"_fcc, AudioScope::output}, source), AudioStatuses::unknownProperty);
    double rate = 0;
    EXPECT_EQ(sim.get(40, {"lnam"_fcc}, rate), AudioStatuses::badPropertySize);
    EXPECT_EQ(sim.get(99, {"lnam"_fcc}, name), AudioStatuses::badObject);

    // A failure rule hits exactly its object, selector and operation, for the
    // number of calls it was given.
    sim.fail(40, "lnam"_fcc, AudioOperation::getPropertyData, AudioStatuses::unspecified, 2);
    EXPECT_EQ(sim.get(41, {"lnam"_fcc}, name), AudioStatuses::ok);
    EXPECT_EQ(sim.getPropertyDataSize(40, {"lnam"_fcc}, size), AudioStatuses::ok);
    EXPECT_EQ(sim.get(40, {"lnam"_fcc}, name), AudioStatuses::unspecified);
    EXPECT_EQ(sim.get(40, {"lnam"_fcc}, name), AudioStatuses::unspecified);
    EXPECT_EQ(sim.get(40, {"lnam"_fcc}, name), AudioStatuses::ok);
    // Wildcards, and a status of 0: success with nothing in it.
    sim.fail(sim::anyObject, "uid "_fcc, AudioOperation::getPropertyData, AudioStatuses::ok);
    EXPECT_EQ(sim.get(41, {"uid "_fcc}, name), AudioStatuses::ok);
    EXPECT_EQ(name, std::nullopt);
    sim.clearFailures();
    sim.fail(41, sim::anySelector, AudioOperation::hasProperty, AudioStatuses::unspecified);
    EXPECT_FALSE(sim.hasProperty(41, {"uid "_fcc}));
    EXPECT_TRUE(sim.hasProperty(40, {"uid "_fcc}));
    sim.clearFailures();

    // The process list and the pid lookup.
    sim.addProcess({500, 77, "com.example.call", true, false, {40}, {}});
    std::vector<std::uint32_t> processes;
    EXPECT_EQ(sim.get(audioSystemObject, {"prs#"_fcc}, processes), AudioStatuses::ok);
    EXPECT_EQ(processes, (std::vector<std::uint32_t>{500}));
    const AudioPropertyValue pid = std::uint32_t{77};
    EXPECT_EQ(sim.get(audioSystemObject, {"id2p"_fcc}, found, &pid), AudioStatuses::ok);
    EXPECT_EQ(found, 500u);
    sim.setProcessListAvailable(false);
    EXPECT_FALSE(sim.hasProperty(audioSystemObject, {"prs#"_fcc}));
    EXPECT_EQ(sim.get(audioSystemObject, {"prs#"_fcc}, processes), AudioStatuses::unknownProperty);
    sim.removeObject(500);
    EXPECT_EQ(sim.get(500, {"ppid"_fcc}, found), AudioStatuses::badObject);
}

TEST(SimAudioSystem, DefaultSwitchesAndTheRecordOfSets)
{
    rt::ManualRuntime runtime;
    SimAudioSystem sim;
    sim.addDevice(microphone());
    sim.addDevice(speakers());
    sim.setDefaultDevice(true, 40);
    EXPECT_EQ(sim.defaultDevice(true), 40u);
    EXPECT_EQ(sim.defaultDevice(false), std::nullopt);

    EXPECT_EQ(sim.setPropertyData(audioSystemObject, {"dOut"_fcc}, std::uint32_t{41}), AudioStatuses::ok);
    EXPECT_EQ(sim.defaultDevice(false), 41u);
    EXPECT_EQ(sim.setPropertyData(audioSystemObject, {"dIn "_fcc}, std::uint32_t{77}), AudioStatuses::badDevice);

    sim.setDefaultSwitch(true, sim::DefaultSwitch::ignored);
    sim.addDevice([] {
        SimDevice other = microphone();
        other.id = 43;
        other.uid = "other";
        return other;
    }());
    EXPECT_EQ(sim.setPropertyData(audioSystemObject, {"dIn "_fcc}, std::uint32_t{43}), AudioStatuses::ok);
    EXPECT_EQ(sim.defaultDevice(true), 40u);

    sim.fail(audioSystemObject, "dIn "_fcc, AudioOperation::setPropertyData, -50, 1);
    EXPECT_EQ(sim.setPropertyData(audioSystemObject, {"dIn "_fcc}, std::uint32_t{43}), -50);

    const auto sets = sim.sets(audioSystemObject, {"dIn "_fcc});
    ASSERT_EQ(sets.size(), 3u);
    EXPECT_EQ(sets[0].status, AudioStatuses::badDevice);
    EXPECT_EQ(sets[1].status, AudioStatuses::ok);
    EXPECT_EQ(sets[2].status, -50);
    EXPECT_EQ(sets[2].value, AudioPropertyValue(std::uint32_t{43}));

    // Ordinary properties: only existing ones, only with their own kind.
    EXPECT_EQ(sim.setPropertyData(40, {"fsiz"_fcc}, std::uint32_t{256}), AudioStatuses::ok);
    EXPECT_EQ(sim.storedValue(40, {"fsiz"_fcc}), AudioPropertyValue(std::uint32_t{256}));
    EXPECT_EQ(sim.setPropertyData(40, {"fsiz"_fcc}, 256.0), AudioStatuses::badPropertySize);
    EXPECT_EQ(sim.setPropertyData(40, {"dcck"_fcc}, 1.0), AudioStatuses::unknownProperty);
}

TEST(SimAudioSystem, ListenersRunOnTheirQueueUntilTheirTokenIsReleased)
{
    rt::ManualRuntime runtime;
    SimAudioSystem sim;
    sim.addDevice(speakers());
    auto queue = rt::makeSerialQueue("com.test.audio");
    std::vector<std::string> calls;
    auto record = [&calls](std::string who) {
        return [&calls, who](std::span<const AudioPropertyAddress> addresses) {
            calls.push_back(who + ":" + fourCharText(addresses[0].selector));
        };
    };

    auto onMain = sim.addPropertyListener(41, {"nsrt"_fcc}, AudioCallbackQueue::main(), record("main"));
    auto onQueue = sim.addPropertyListener(41, {"nsrt"_fcc}, AudioCallbackQueue::serial(queue), record("queue"));
    auto onThread = sim.addPropertyListener(41, {"livn"_fcc}, AudioCallbackQueue(), record("thread"));
    EXPECT_TRUE(onMain.isActive());
    EXPECT_EQ(sim.listenerCount(41, {"nsrt"_fcc}), 2u);

    // Even the notification thread's listeners never run inside the call:
    // they run on a queue of their own.
    sim.notify(41, {"livn"_fcc});
    sim.notify(41, {"nsrt"_fcc});
    EXPECT_TRUE(calls.empty());
    ASSERT_TRUE(runtime.queues().queue(sim::SimAudioCore::notificationQueueLabel));
    runtime.runUntilIdle();
    EXPECT_EQ(calls, (std::vector<std::string>{"thread:livn", "main:nsrt", "queue:nsrt"}));

    // A notification on its way is dropped when the registration ends first.
    calls.clear();
    sim.notify(41, {"nsrt"_fcc});
    onMain.release();
    runtime.runUntilIdle();
    EXPECT_EQ(calls, (std::vector<std::string>{"queue:nsrt"}));

    // Moving keeps the one registration; assignment over a token ends it.
    AudioListenerToken moved = std::move(onQueue);
    EXPECT_FALSE(onQueue.isActive());
    EXPECT_EQ(sim.listenerCount(41, {"nsrt"_fcc}), 1u);
    moved = AudioListenerToken();
    EXPECT_EQ(sim.listenerCount(41, {"nsrt"_fcc}), 0u);

    // A failed registration is an empty token with the status.
    sim.fail(41, "over"_fcc, AudioOperation::addPropertyListener, AudioStatuses::illegalOperation);
    auto failed = sim.addPropertyListener(41, {"over"_fcc}, AudioCallbackQueue(), record("x"));
    EXPECT_FALSE(failed.isActive());
    EXPECT_EQ(failed.status(), AudioStatuses::illegalOperation);
    EXPECT_EQ(sim.addPropertyListener(99, {"over"_fcc}, AudioCallbackQueue(), record("x")).status(),
              AudioStatuses::badObject);

    // The record: three additions and two removals, each with its queue.
    const auto events = sim.events();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0].kind, SimAudioEvent::Kind::added);
    EXPECT_EQ(events[0].queue, "main");
    EXPECT_EQ(events[1].queue, "com.test.audio");
    EXPECT_EQ(events[2].queue, "");
    EXPECT_EQ(events[3].kind, SimAudioEvent::Kind::removed);
    EXPECT_EQ(events[3].registration, events[0].registration);
    EXPECT_EQ(events[4].registration, events[1].registration);

    // An unplugged device takes its registrations along; the token stays
    // harmless. A listener that owns another registration is dropped safely.
    sim.clearFailures();
    auto owned = std::make_shared<AudioListenerToken>(
        sim.addPropertyListener(41, {"over"_fcc}, AudioCallbackQueue(), record("owned")));
    auto owner = sim.addPropertyListener(41, {"over"_fcc}, AudioCallbackQueue(),
                                         [owned](std::span<const AudioPropertyAddress>) {});
    owned.reset();
    sim.removeObject(41);
    EXPECT_TRUE(sim.listeners().empty());
    onThread.release();
    owner.release();
    EXPECT_EQ(sim.events().size(), 7u);
}

TEST(SimAudioSystem, AnnouncesWhatAServerAnnounces)
{
    rt::ManualRuntime runtime;
    SimAudioSystem sim;
    auto queue = rt::makeSerialQueue("com.test.audio");
    std::vector<std::string> calls;
    auto record = [&calls](std::string who) {
        return [&calls, who](std::span<const AudioPropertyAddress> addresses) {
            calls.push_back(who + ":" + fourCharText(addresses[0].selector));
        };
    };
    auto run = [&] {
        runtime.runUntilIdle();
        return std::exchange(calls, {});
    };
    using Calls = std::vector<std::string>;
    auto list = sim.addPropertyListener(audioSystemObject, {"dev#"_fcc}, AudioCallbackQueue::main(), record("list"));
    auto input = sim.addPropertyListener(audioSystemObject, {"dIn "_fcc}, AudioCallbackQueue(), record("system"));
    auto output = sim.addPropertyListener(audioSystemObject, {"dOut"_fcc}, AudioCallbackQueue(), record("system"));
    auto processes =
        sim.addPropertyListener(audioSystemObject, {"prs#"_fcc}, AudioCallbackQueue::main(), record("processes"));

    // A device plugged in changes the list; a hidden one does not.
    sim.addDevice(microphone());
    sim.addDevice(speakers());
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(run(), (Calls{"list:dev#", "list:dev#"}));
    SimDevice hidden = microphone();
    hidden.id = 42;
    hidden.uid = "hidden";
    hidden.listed = false;
    sim.addDevice(hidden);
    EXPECT_EQ(run(), Calls{});

    // Defaults chosen elsewhere or written by a caller are announced when
    // they change, and only then.
    sim.setDefaultDevice(true, 40);
    sim.setDefaultDevice(true, 40);
    EXPECT_EQ(sim.setPropertyData(audioSystemObject, {"dOut"_fcc}, std::uint32_t{41}), AudioStatuses::ok);
    EXPECT_EQ(sim.setPropertyData(audioSystemObject, {"dOut"_fcc}, std::uint32_t{41}), AudioStatuses::ok);
    EXPECT_EQ(run(), (Calls{"system:dIn ", "system:dOut"}));
    sim.setDefaultSwitch(true, sim::DefaultSwitch::ignored);
    EXPECT_EQ(sim.setPropertyData(audioSystemObject, {"dIn "_fcc}, std::uint32_t{42}), AudioStatuses::ok);
    sim.setDefaultSwitch(true, sim::DefaultSwitch::takesEffect);
    EXPECT_EQ(run(), Calls{});

    // A rate write notifies on the listener's queue; an equal or failed one
    // does not.
    auto rate = sim.addPropertyListener(41, {"nsrt"_fcc}, AudioCallbackQueue::serial(queue), record("rate"));
    EXPECT_EQ(sim.setPropertyData(41, {"nsrt"_fcc}, 44100.0), AudioStatuses::ok);
    EXPECT_EQ(sim.setPropertyData(41, {"nsrt"_fcc}, 44100.0), AudioStatuses::ok);
    sim.fail(41, "nsrt"_fcc, AudioOperation::setPropertyData, AudioStatuses::unspecified, 1);
    EXPECT_EQ(sim.setPropertyData(41, {"nsrt"_fcc}, 96000.0), AudioStatuses::unspecified);
    EXPECT_EQ(run(), Calls{"rate:nsrt"});

    // Unplugging the default input: its own listeners hear it die (reading
    // 'livn' fails then), the list changes, and the first other listed input
    // becomes the default.
    SimDevice second = microphone();
    second.id = 43;
    second.uid = "second-mic";
    sim.addDevice(second);
    run();
    AudioStatus aliveRead = AudioStatuses::ok;
    auto alive =
        sim.addPropertyListener(40, {"livn"_fcc}, AudioCallbackQueue(), [&](std::span<const AudioPropertyAddress>) {
            std::uint32_t value = 1;
            aliveRead = sim.get(40, {"livn"_fcc}, value);
            calls.push_back("mic:livn");
        });
    sim.removeObject(40);
    EXPECT_EQ(sim.defaultDevice(true), 43u);
    EXPECT_EQ(run(), (Calls{"mic:livn", "list:dev#", "system:dIn "}));
    EXPECT_EQ(aliveRead, AudioStatuses::badObject);

    // Without another output the default output becomes none. A token
    // released before its notice runs hears nothing.
    auto speakerAlive = sim.addPropertyListener(41, {"livn"_fcc}, AudioCallbackQueue(), record("speakers"));
    sim.removeObject(41);
    speakerAlive.release();
    EXPECT_EQ(sim.defaultDevice(false), std::nullopt);
    EXPECT_EQ(run(), (Calls{"list:dev#", "system:dOut"}));

    // Aggregate devices come and go like others; so do processes.
    AudioObjectId aggregate = 0;
    ASSERT_EQ(sim.createAggregateDevice({"Listen", "listen-uid", true, true, {}}, aggregate), AudioStatuses::ok);
    ASSERT_EQ(sim.destroyAggregateDevice(aggregate), AudioStatuses::ok);
    sim.addProcess({500, 77, "com.example.call", true, false, {43}, {}});
    sim.removeObject(500);
    EXPECT_EQ(run(), (Calls{"list:dev#", "list:dev#", "processes:prs#", "processes:prs#"}));
}

AudioStatus stopFromInside(AudioObjectId device, const AudioTimeStamp&, std::span<const AudioIOBuffer>,
                           const AudioTimeStamp&, std::span<AudioIOBuffer>, const AudioTimeStamp&, void* context)
{
    auto* id = static_cast<AudioIOProcId*>(context);
    audioSystem().stopDevice(device, *id);
    return AudioStatuses::ok;
}

struct SlowCycle {
    std::atomic<bool> entered{false};
    std::atomic<bool> stopCalled{false};
    std::atomic<bool> stopReturned{false};
    std::atomic<bool> returnedDuringCycle{false};
};

AudioStatus slowProc(AudioObjectId, const AudioTimeStamp&, std::span<const AudioIOBuffer>, const AudioTimeStamp&,
                     std::span<AudioIOBuffer>, const AudioTimeStamp&, void* context)
{
    auto& cycle = *static_cast<SlowCycle*>(context);
    cycle.entered = true;
    while (!cycle.stopCalled)
        std::this_thread::yield();
    // A stop that did not wait would come back while this cycle is still
    // running; give it ample chance to.
    for (int i = 0; i < 20000 && !cycle.stopReturned; ++i)
        std::this_thread::yield();
    cycle.returnedDuringCycle = cycle.stopReturned.load();
    return AudioStatuses::ok;
}

TEST(SimAudioSystem, StoppingWaitsForACycleInFlight)
{
    rt::ManualRuntime runtime;
    SimAudioSystem sim;
    sim.addDevice(speakers());
    SlowCycle cycle;
    AudioIOProcId proc = 0;
    ASSERT_EQ(sim.createIOProc(41, &slowProc, &cycle, proc), AudioStatuses::ok);
    ASSERT_EQ(sim.startDevice(41, proc), AudioStatuses::ok);

    std::thread io([&] { sim.runIOCycle(41); });
    while (!cycle.entered)
        std::this_thread::yield();
    std::thread stopper([&] {
        cycle.stopCalled = true;
        EXPECT_EQ(sim.stopDevice(41, proc), AudioStatuses::ok);
        cycle.stopReturned = true;
    });
    io.join();
    stopper.join();
    EXPECT_FALSE(cycle.returnedDuringCycle);
    EXPECT_FALSE(sim.isRunning(41));

    // A procedure may stop its own device without waiting for itself.
    AudioIOProcId self = 0;
    ASSERT_EQ(sim.createIOProc(41, &stopFromInside, &self, self), AudioStatuses::ok);
    ASSERT_EQ(sim.startDevice(41, self), AudioStatuses::ok);
    EXPECT_EQ(sim.runIOCycle(41), AudioStatuses::ok);
    EXPECT_FALSE(sim.isRunning(41));
}

struct CycleRecord {
    std::vector<AudioTimeStamp> inputTimes;
    std::vector<AudioTimeStamp> outputTimes;
    std::vector<float> firstInputSamples;
    float outputValue = 0.25f;
};

AudioStatus recordingProc(AudioObjectId, const AudioTimeStamp&, std::span<const AudioIOBuffer> input,
                          const AudioTimeStamp& inputTime, std::span<AudioIOBuffer> output,
                          const AudioTimeStamp& outputTime, void* context)
{
    auto& record = *static_cast<CycleRecord*>(context);
    record.inputTimes.push_back(inputTime);
    record.outputTimes.push_back(outputTime);
    if (!input.empty() && input[0].byteSize > 0)
        record.firstInputSamples.push_back(input[0].data[0]);
    for (auto& buffer : output)
        for (std::uint32_t i = 0; i < buffer.byteSize / 4; ++i)
            buffer.data[i] = record.outputValue;
    return AudioStatuses::ok;
}

TEST(SimAudioSystem, DeviceCyclesFollowEachDevicesClock)
{
    rt::ManualRuntime runtime;
    SimAudioSystem sim;
    SimDevice input = microphone();
    input.nominalRate = 48000;
    input.bufferFrames = 480;
    input.inputSafetyOffset = 20;
    input.ppm = 100;
    sim.addDevice(input);
    SimDevice output = speakers();
    output.bufferFrames = 960;
    output.outputSafetyOffset = 30;
    output.custom["dcck"_fcc] = 0.0;
    sim.addDevice(output);
    sim.setInputSignal(40, [](std::uint32_t, double sampleTime) { return static_cast<float>(sampleTime); });

    CycleRecord inRecord;
    CycleRecord outRecord;
    CycleRecord second;
    second.outputValue = 0.5f;
    AudioIOProcId inProc = 0;
    AudioIOProcId outProc = 0;
    AudioIOProcId secondProc = 0;
    ASSERT_EQ(sim.createIOProc(40, &recordingProc, &inRecord, inProc), AudioStatuses::ok);
    ASSERT_EQ(sim.createIOProc(41, &recordingProc, &outRecord, outProc), AudioStatuses::ok);
    ASSERT_EQ(sim.createIOProc(41, &recordingProc, &second, secondProc), AudioStatuses::ok);
    EXPECT_EQ(sim.runIOCycle(40), AudioStatuses::notRunning);

    runtime.advance(2.0);
    ASSERT_EQ(sim.startDevice(40, inProc), AudioStatuses::ok);
    ASSERT_EQ(sim.startDevice(41, outProc), AudioStatuses::ok);
    ASSERT_EQ(sim.startDevice(41, secondProc), AudioStatuses::ok);

    // Up to 0.1 s of host time: the input's cycles fall at frames 500, 980, ...
    // (buffer plus safety offset) of its +100 ppm clock, 9 of them; the
    // output's at 960, 1920, ..., 4800, 5 of them.
    EXPECT_EQ(sim.runIOUntil(2.1), 14u);
    ASSERT_EQ(inRecord.inputTimes.size(), 9u);
    ASSERT_EQ(outRecord.outputTimes.size(), 5u);
    const double inputRate = 48000 * (1 + 100e-6);
    EXPECT_EQ(inRecord.inputTimes[3].sampleTime, 1440);
    EXPECT_TRUE(inRecord.inputTimes[3].hasHostTime());
    EXPECT_NEAR(inRecord.inputTimes[3].hostSeconds(), 2.0 + 1440 / inputRate, 1e-8);
    EXPECT_EQ(inRecord.firstInputSamples[3], 1440.0f);
    EXPECT_EQ(outRecord.outputTimes[1].sampleTime, 960 + 960 + 30);
    EXPECT_NEAR(outRecord.outputTimes[1].hostSeconds(), 2.0 + 1950 / 48000.0, 1e-8);
    EXPECT_EQ(sim.sampleTime(40), 9 * 480);

    // Two procedures on one device are mixed.
    const auto left = sim.output(41, 0);
    ASSERT_EQ(left.size(), 5u * 960u);
    EXPECT_FLOAT_EQ(left.back(), 0.75f);

    // A clock correction written to 'dcck' moves the device's clock.
    ASSERT_EQ(sim.setPropertyData(41, {"dcck"_fcc}, -50.0), AudioStatuses::ok);
    ASSERT_EQ(sim.runIOCycle(41), AudioStatuses::ok);
    const double before = outRecord.outputTimes.back().hostSeconds();
    ASSERT_EQ(sim.runIOCycle(41), AudioStatuses::ok);
    EXPECT_NEAR(outRecord.outputTimes.back().hostSeconds() - before, 960 / (48000 * (1 - 50e-6)), 1e-8);

    // Stopping every procedure stops the device; a destroyed one is gone.
    EXPECT_EQ(sim.stopDevice(41, outProc), AudioStatuses::ok);
    EXPECT_TRUE(sim.isRunning(41));
    EXPECT_EQ(sim.destroyIOProc(41, secondProc), AudioStatuses::ok);
    EXPECT_FALSE(sim.isRunning(41));
    EXPECT_EQ(sim.startDevice(41, secondProc), AudioStatuses::illegalOperation);
    EXPECT_EQ(sim.ioProcs().size(), 2u);

    sim.fail(41, sim::anySelector, AudioOperation::createIOProc, AudioStatuses::ok, 1);
    AudioIOProcId none = 7;
    EXPECT_EQ(sim.createIOProc(41, &recordingProc, &second, none), AudioStatuses::ok);
    EXPECT_EQ(none, 0u);

    // The streams a procedure uses.
    const AudioPropertyValue proc = std::uint32_t{inProc};
    AudioStreamUsage usage;
    EXPECT_EQ(sim.get(40, {"suse"_fcc, AudioScope::input}, usage, &proc), AudioStatuses::ok);
    EXPECT_EQ(usage.streamIsOn, (std::vector<std::uint32_t>{1}));
    std::uint32_t size = 0;
    EXPECT_EQ(sim.getPropertyDataSize(40, {"suse"_fcc, AudioScope::output}, size), AudioStatuses::ok);
    EXPECT_EQ(size, 12u);
    usage.streamIsOn = {0};
    EXPECT_EQ(sim.setPropertyData(40, {"suse"_fcc, AudioScope::input}, usage), AudioStatuses::ok);
    EXPECT_EQ(sim.get(40, {"suse"_fcc, AudioScope::input}, usage, &proc), AudioStatuses::ok);
    EXPECT_EQ(usage.streamIsOn, (std::vector<std::uint32_t>{0}));
}

TEST(SimAudioSystem, TapsAndAggregateDevices)
{
    rt::ManualRuntime runtime;
    SimAudioSystem sim;
    sim.setTapFormat(AudioStreamDescription::pcm({44100, 2, SampleType::float32, false}));
    ProcessTapDescription tapDescription;
    tapDescription.name = "Tap";
    tapDescription.isPrivate = true;
    AudioObjectId tap = 0;
    ASSERT_EQ(sim.createProcessTap(tapDescription, tap), AudioStatuses::ok);
    AudioStreamDescription format;
    EXPECT_EQ(sim.get(tap, {"tfmt"_fcc}, format), AudioStatuses::ok);
    EXPECT_EQ(format.bytesPerFrame, 4u);
    EXPECT_EQ(format.audioFormat(), (AudioFormat{44100, 2, SampleType::float32, false}));

    AggregateDeviceDescription aggregateDescription{
        "Listen", "listen-uid", true, true, {tapDescription.uuid.toString()}};
    AudioObjectId aggregate = 0;
    ASSERT_EQ(sim.createAggregateDevice(aggregateDescription, aggregate), AudioStatuses::ok);
    EXPECT_EQ(sim.aggregates().at(aggregate), aggregateDescription);
    AudioBufferLayout layout;
    EXPECT_EQ(sim.get(aggregate, {"slay"_fcc, AudioScope::input}, layout), AudioStatuses::ok);
    EXPECT_EQ(layout.channelsPerBuffer, (std::vector<std::uint32_t>{1, 1}));
    std::vector<std::uint32_t> devices;
    sim.get(audioSystemObject, {"dev#"_fcc}, devices);
    EXPECT_EQ(devices, (std::vector<std::uint32_t>{aggregate}));

    CycleRecord record;
    AudioIOProcId proc = 0;
    ASSERT_EQ(sim.createIOProc(aggregate, &recordingProc, &record, proc), AudioStatuses::ok);
    ASSERT_EQ(sim.destroyAggregateDevice(aggregate), AudioStatuses::ok);
    EXPECT_TRUE(sim.ioProcs().empty());
    EXPECT_EQ(sim.destroyAggregateDevice(aggregate), AudioStatuses::badObject);
    ASSERT_EQ(sim.destroyProcessTap(tap), AudioStatuses::ok);
    EXPECT_TRUE(sim.taps().empty());

    sim.fail(sim::anyObject, sim::anySelector, AudioOperation::createProcessTap, 1852797029);
    EXPECT_EQ(sim.createProcessTap(tapDescription, tap), 1852797029);
    EXPECT_EQ(tap, 0u);
}

struct QueueProgress {
    std::vector<std::uint32_t> finished;
    std::vector<AudioTimeStamp> inputTimes;
    bool requeue = false;
};

void countPlayed(void* userData, AudioQueue&, AudioQueueBuffer& buffer)
{
    static_cast<QueueProgress*>(userData)->finished.push_back(buffer.byteSize);
}

void takeInput(void* userData, AudioQueue& queue, AudioQueueBuffer& buffer, const AudioTimeStamp& time)
{
    auto* progress = static_cast<QueueProgress*>(userData);
    progress->finished.push_back(buffer.byteSize);
    progress->inputTimes.push_back(time);
    if (progress->requeue)
        queue.enqueueBuffer(buffer);
}

TEST(SimAudioSystem, OutputQueuesPlayOnTheVirtualClock)
{
    rt::ManualRuntime runtime;
    SimAudioSystem sim;
    sim.addDevice(speakers());
    sim.setDefaultDevice(false, 41);
    QueueProgress progress;
    std::shared_ptr<AudioQueue> queue;
    const auto format = AudioStreamDescription::pcm({1000, 1, SampleType::float32, true});
    ASSERT_EQ(sim.newOutputQueue(format, &countPlayed, &progress, queue), AudioStatuses::ok);
    ASSERT_TRUE(queue);

    AudioString device;
    EXPECT_EQ(queue->get("aqcd"_fcc, device), AudioStatuses::ok);
    EXPECT_EQ(device, "spk-uid");
    EXPECT_EQ(queue->setProperty("aqcd"_fcc, AudioString("nobody")), AudioStatuses::badDevice);
    EXPECT_EQ(queue->setProperty("aqcd"_fcc, AudioString("spk-uid")), AudioStatuses::ok);

    for (std::uint32_t frames : {500u, 1500u}) {
        AudioQueueBuffer* buffer = nullptr;
        ASSERT_EQ(queue->allocateBuffer(frames * 4, buffer), AudioStatuses::ok);
        for (std::uint32_t i = 0; i < frames; ++i)
            buffer->data[i] = 0.1f;
        buffer->byteSize = frames * 4;
        ASSERT_EQ(queue->enqueueBuffer(*buffer), AudioStatuses::ok);
    }
    ASSERT_EQ(queue->start(), AudioStatuses::ok);
    ASSERT_EQ(queue->stop(false), AudioStatuses::ok);
    AudioQueueTimelineId timeline = 0;
    ASSERT_EQ(queue->createTimeline(timeline), AudioStatuses::ok);

    std::uint32_t running = 0;
    runtime.advance(0.4);
    EXPECT_TRUE(progress.finished.empty());
    AudioTimeStamp now;
    EXPECT_EQ(queue->currentTime(timeline, now), AudioStatuses::ok);
    EXPECT_EQ(now.flags, AudioTimeStamp::sampleTimeValid | AudioTimeStamp::hostTimeValid);
    EXPECT_NEAR(now.sampleTime, 400, 1e-6);
    runtime.advance(0.2);
    EXPECT_EQ(progress.finished, (std::vector<std::uint32_t>{2000}));
    EXPECT_EQ(queue->get("aqrn"_fcc, running), AudioStatuses::ok);
    EXPECT_EQ(running, 1u);
    runtime.advance(1.5);
    EXPECT_EQ(progress.finished, (std::vector<std::uint32_t>{2000, 6000}));
    EXPECT_EQ(queue->get("aqrn"_fcc, running), AudioStatuses::ok);
    EXPECT_EQ(running, 0u);  // drained, it stopped by itself
    auto simQueue = sim.queues().at(0);
    EXPECT_EQ(simQueue->playedSamples().size(), 2000u);
    EXPECT_EQ(queue->disposeTimeline(timeline), AudioStatuses::ok);
    EXPECT_EQ(queue->dispose(true), AudioStatuses::ok);
    EXPECT_TRUE(sim.queues().empty());

    // Stalled queues never finish; an immediate stop ends them.
    sim.setQueuesStalled(true);
    ASSERT_EQ(sim.newOutputQueue(format, &countPlayed, &progress, queue), AudioStatuses::ok);
    AudioQueueBuffer* buffer = nullptr;
    queue->allocateBuffer(400, buffer);
    buffer->byteSize = 400;
    queue->enqueueBuffer(*buffer);
    queue->start();
    queue->stop(false);
    runtime.advance(10);
    EXPECT_EQ(queue->get("aqrn"_fcc, running), AudioStatuses::ok);
    EXPECT_EQ(running, 1u);
    queue->stop(true);
    EXPECT_EQ(queue->get("aqrn"_fcc, running), AudioStatuses::ok);
    EXPECT_EQ(running, 0u);
    queue->dispose(true);

    // Failures of single steps, and a creation that yields no queue.
    sim.fail(sim::anyObject, sim::anySelector, AudioOperation::newQueue, AudioStatuses::ok, 1);
    EXPECT_EQ(sim.newOutputQueue(format, &countPlayed, &progress, queue), AudioStatuses::ok);
    EXPECT_FALSE(queue);
    sim.fail(sim::anyObject, sim::anySelector, AudioOperation::queueAllocateBuffer, -66687);
    ASSERT_EQ(sim.newOutputQueue(format, &countPlayed, &progress, queue), AudioStatuses::ok);
    EXPECT_EQ(queue->allocateBuffer(400, buffer), -66687);
    EXPECT_EQ(buffer, nullptr);
    queue->dispose(true);
}

TEST(SimAudioSystem, InputQueuesAndEnginesReadTheDeviceSignal)
{
    rt::ManualRuntime runtime;
    SimAudioSystem sim;
    sim.addDevice(microphone());
    sim.setDefaultDevice(true, 40);
    sim.setInputSignal(40, [](std::uint32_t channel, double sampleTime) {
        return channel == 0 ? static_cast<float>(sampleTime) / 1000 : -1.0f;
    });

    QueueProgress progress;
    progress.requeue = true;
    std::shared_ptr<AudioQueue> queue;
    ASSERT_EQ(sim.newInputQueue(AudioStreamDescription::pcm({48000, 2, SampleType::float32, true}), &takeInput,
                                &progress, queue),
              AudioStatuses::ok);
    AudioQueueBuffer* buffers[2] = {};
    for (auto*& buffer : buffers) {
        ASSERT_EQ(queue->allocateBuffer(2 * 4096, buffer), AudioStatuses::ok);
        queue->enqueueBuffer(*buffer);
    }
    EXPECT_EQ(sim.runInputQueues(), 0u);  // not started
    queue->start();
    EXPECT_EQ(sim.runInputQueues(), 2u);
    EXPECT_EQ(sim.runInputQueues(), 2u);  // the callback enqueued them again
    EXPECT_EQ(progress.finished, (std::vector<std::uint32_t>{8192, 8192, 8192, 8192}));
    EXPECT_EQ(progress.inputTimes[1].sampleTime, 1024);
    EXPECT_FLOAT_EQ(buffers[1]->data[0], 3.072f);
    EXPECT_FLOAT_EQ(buffers[1]->data[1], -1.0f);
    queue->dispose(true);

    // The input engine reads the chosen device (else the default) and taps it.
    auto engine = sim.makeInputEngine();
    auto simEngine = sim.inputEngines().at(0);
    EXPECT_EQ(engine->inputFormat(), (AudioFormat{44100, 1, SampleType::float32, false}));
    EXPECT_THROW(engine->setInputDevice(99), DomainError);
    std::vector<std::pair<std::size_t, bool>> taps;
    engine->installTap(4096, engine->inputFormat(),
                       [&taps](std::shared_ptr<PcmBuffer> buffer, const AudioTimeStamp& t) {
                           taps.emplace_back(buffer->frameLength(), t.hasHostTime());
                       });
    engine->prepare();
    EXPECT_FALSE(simEngine->deliver());
    engine->start();
    EXPECT_TRUE(simEngine->deliver());
    EXPECT_TRUE(simEngine->deliver(100, false));
    EXPECT_EQ(taps, (std::vector<std::pair<std::size_t, bool>>{{4096, true}, {100, false}}));

    int changes = 0;
    auto observer = engine->observeConfigurationChanges(AudioCallbackQueue::main(), [&changes] { ++changes; });
    simEngine->changeConfiguration(false);
    EXPECT_TRUE(engine->isRunning());
    simEngine->changeConfiguration(true);
    EXPECT_FALSE(engine->isRunning());
    EXPECT_EQ(changes, 0);
    runtime.runUntilIdle();
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(simEngine->observerCount(), 1u);
    observer.release();
    EXPECT_EQ(simEngine->observerCount(), 0u);

    sim.fail(simEngine->id(), sim::anySelector, AudioOperation::engineStart, -10868);
    try {
        engine->start();
        ADD_FAILURE() << "start should fail";
    } catch (const DomainError& error) {
        EXPECT_EQ(error.code(), -10868);
    }
    sim.fail(simEngine->id(), sim::anySelector, AudioOperation::engineInputFormat, AudioStatuses::unspecified);
    EXPECT_EQ(engine->inputFormat().sampleRate, 0);
}

}  // namespace
}  // namespace parlaro
