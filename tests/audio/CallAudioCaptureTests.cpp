#include "audio/AudioDevices.h"
#include "audio/CallAudioCapture.h"
#include "audio/EchoGuard.h"
#include "platform/sim/SimAudioSystem.h"
#include "platform/sim/SimPlatform.h"
#include "runtime/ManualRuntime.h"
#include "support/SimDevices.h"

#include <gtest/gtest.h>

#include <cmath>

namespace parlaro {
namespace {

using sim::AudioOperation;

constexpr AudioObjectId ownProcess = 500;
constexpr AudioObjectId callApp = 501;
constexpr AudioObjectId musicApp = 502;
constexpr AudioPropertyAddress livn{"livn"_fcc};
constexpr AudioPropertyAddress dOut{"dOut"_fcc};
constexpr AudioPropertyAddress srst{AudioSelectors::serviceRestarted};
constexpr AudioStatus refused = 560947818;

// The computer plays the call (left 0.25, right 0.1), some music (0.05 on
// both) and this program's own speech (0.5), which the capture must not hear.
struct Capturing {
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimAudioSystem system;
    std::shared_ptr<FarEndActivity> farEnd = std::make_shared<FarEndActivity>();
    std::shared_ptr<CallAudioCapture> capture;
    std::vector<std::shared_ptr<const PcmBuffer>> buffers;
    std::vector<std::string> stops;

    Capturing()
    {
        system.addProcess(
            {ownProcess, 4242, "com.parlaro.Parlaro", false, true, {}, {}, [](std::uint32_t, double) { return 0.5f; }});
        system.addProcess({callApp, 77, "com.example.call", true, true, {}, {}, [](std::uint32_t channel, double) {
                               return channel == 0 ? 0.25f : 0.1f;
                           }});
        system.addProcess(
            {musicApp, 78, "com.example.music", false, true, {}, {}, [](std::uint32_t, double) { return 0.05f; }});
        capture = std::make_shared<CallAudioCapture>(farEnd);
    }

    rt::ExecutorSerialQueue& queue() { return *runtime.queues().queue(CallAudioCapture::queueLabel); }

    void start()
    {
        syncOnQueue(*capture->queue(), [this] {
            capture->start([this](std::shared_ptr<const PcmBuffer> buffer) { buffers.push_back(std::move(buffer)); },
                           [this](const std::string& reason) { stops.push_back(reason); });
        });
    }
    void stop()
    {
        syncOnQueue(*capture->queue(), [this] { capture->stop(); });
    }
    bool nothingLeft() const
    {
        return system.taps().empty() && system.aggregates().empty() && system.ioProcs().empty();
    }
    // Whether the far-end record waits for the tap at a time still to come.
    bool farEndWaitsForTap() const
    {
        const double later = rt::clock().hostTime() + 100.0;
        return farEnd->level(later, later + 0.01) == std::nullopt;
    }
};

std::string startErrorText(const std::function<void()>& start)
{
    try {
        start();
    } catch (const ModuleError& error) {
        return error.localizedDescription();
    }
    return "no error";
}

TEST(CallAudioCapture, TapsEverythingButItselfAndDeliversEachCycle)
{
    Capturing t;
    t.start();

    const auto taps = t.system.taps();
    ASSERT_EQ(taps.size(), 1u);
    const ProcessTapDescription& tap = taps.begin()->second;
    EXPECT_EQ(tap.excludedProcesses, (std::vector<AudioObjectId>{ownProcess}));
    EXPECT_EQ(tap.name, "Parlaro");
    EXPECT_TRUE(tap.isPrivate);
    EXPECT_EQ(tap.muteBehavior, 0);

    const auto aggregates = t.system.aggregates();
    ASSERT_EQ(aggregates.size(), 1u);
    const auto& [aggregateID, aggregate] = *aggregates.begin();
    EXPECT_EQ(aggregate.name, "Parlaro Listen");
    ASSERT_EQ(aggregate.uid.size(), std::string("com.parlaro.listen.").size() + 36);
    EXPECT_EQ(aggregate.uid.rfind("com.parlaro.listen.", 0), 0u);
    EXPECT_TRUE(rt::Uuid::parse(aggregate.uid.substr(19)));
    EXPECT_EQ(aggregate.uid.substr(19), rt::Uuid::parse(aggregate.uid.substr(19))->toString());
    EXPECT_TRUE(aggregate.isPrivate);
    EXPECT_TRUE(aggregate.tapAutoStart);
    EXPECT_EQ(aggregate.tapUIDs, (std::vector<std::string>{tap.uuid.toString()}));
    EXPECT_EQ(t.capture->aggregateID(), aggregateID);

    ASSERT_EQ(t.system.ioProcs().size(), 1u);
    EXPECT_TRUE(t.system.ioProcs()[0].started);
    EXPECT_EQ(t.system.listenerCount(audioSystemObject, dOut), 1u);
    EXPECT_EQ(t.system.listenerCount(audioSystemObject, srst), 1u);
    EXPECT_EQ(t.system.listenerCount(aggregateID, livn), 1u);
    for (const auto& listener : t.system.listeners())
        EXPECT_EQ(listener.queue, "call-audio-capture");
    // The capture never lists itself.
    for (const auto& device : AudioDevices::allDevices())
        EXPECT_NE(device.name, "Parlaro Listen");

    // Until the tap reports, the far end is unknown.
    EXPECT_TRUE(t.farEndWaitsForTap());

    // One cycle of 4096 bytes of 8-byte stereo frames is one 512-frame buffer:
    // the call and the music, not this program.
    t.runtime.advance(0.5);
    const double cycleStart = rt::clock().hostTime();
    ASSERT_EQ(t.system.runIOCycle(aggregateID, 512), AudioStatuses::ok);
    EXPECT_TRUE(t.buffers.empty());  // delivered on the queue, not the I/O thread
    t.runtime.runUntilIdle();
    ASSERT_EQ(t.buffers.size(), 1u);
    const PcmBuffer& buffer = *t.buffers[0];
    EXPECT_EQ(buffer.frameLength(), 512u);
    EXPECT_EQ(buffer.format(), (AudioFormat{48000, 2, SampleType::float32, true}));
    EXPECT_FLOAT_EQ(buffer.floatSample(0, 0), 0.3f);
    EXPECT_FLOAT_EQ(buffer.floatSample(511, 1), 0.15f);

    // Its loudness is in the far-end record, in 10 ms windows on the host
    // clock from the cycle's input time.
    const auto level = t.farEnd->level(cycleStart - 0.5 + 0.001, cycleStart - 0.5 + 0.002);
    ASSERT_TRUE(level);
    EXPECT_NEAR(*level, 20 * std::log10(0.3), 1e-4);

    // A cycle on its way when the capture stops is delivered before the stop
    // (one serial queue); afterwards there are no cycles and nothing is left.
    ASSERT_EQ(t.system.runIOCycle(aggregateID, 512), AudioStatuses::ok);
    t.stop();
    EXPECT_EQ(t.buffers.size(), 2u);
    EXPECT_EQ(t.system.runIOCycle(aggregateID, 512), AudioStatuses::badObject);
    t.runtime.runUntilIdle();
    EXPECT_EQ(t.buffers.size(), 2u);
    EXPECT_TRUE(t.nothingLeft());
    EXPECT_TRUE(t.system.listeners().empty());
    EXPECT_FALSE(t.farEndWaitsForTap());
    EXPECT_EQ(t.capture->tapID(), 0u);
    EXPECT_EQ(t.capture->procID(), std::nullopt);
}

TEST(CallAudioCapture, KeepsTheTapsLayoutWhenChannelsAreSeparate)
{
    Capturing t;
    t.system.setTapFormat(AudioStreamDescription::pcm({44100, 2, SampleType::float32, false}));
    t.start();
    ASSERT_EQ(t.system.runIOCycle(t.capture->aggregateID(), 256), AudioStatuses::ok);
    t.runtime.runUntilIdle();
    ASSERT_EQ(t.buffers.size(), 1u);
    const PcmBuffer& buffer = *t.buffers[0];
    EXPECT_EQ(buffer.frameLength(), 256u);
    EXPECT_EQ(buffer.format(), (AudioFormat{44100, 2, SampleType::float32, false}));
    EXPECT_FLOAT_EQ(buffer.floatSample(255, 0), 0.3f);
    EXPECT_FLOAT_EQ(buffer.floatSample(255, 1), 0.15f);
    t.stop();
}

// A process whose sound names the frame it was played at lets the tests read
// which part of which cycle a buffer holds: frame f plays 0.3 + f / 100000 on
// the left (0.15 + f / 100000 on the right) with the call and the music.
constexpr AudioObjectId clockApp = 503;
std::int64_t frameOf(const PcmBuffer& buffer, std::size_t frame, std::uint32_t channel = 0)
{
    return std::lround((buffer.floatSample(frame, channel) - (channel == 0 ? 0.3f : 0.15f)) * 1e5f);
}

TEST(CallAudioCapture, CyclesPassThroughAFixedSetOfSlots)
{
    Capturing t;
    t.system.addProcess({clockApp, 79, "com.example.clock", false, true, {}, {}, [](std::uint32_t, double frame) {
                             return static_cast<float>(frame * 1e-5);
                         }});
    const double begun = rt::clock().hostTime();
    t.start();
    const AudioObjectId aggregate = t.capture->aggregateID();
    // The device's 512-frame buffer gets the smallest slot.
    EXPECT_EQ(t.capture->slotFrames(), 4096u);
    EXPECT_EQ(t.capture->droppedCycles(), 0u);

    // The queue falls behind: as many 10 ms cycles as there are slots wait,
    // the next is dropped and counted; the waiting ones arrive in order once
    // the queue moves.
    constexpr std::size_t slots = CallAudioCapture::slotCount;
    const auto held = static_cast<std::int64_t>(slots);
    t.queue().suspend();
    for (std::size_t cycle = 0; cycle <= slots; ++cycle)
        ASSERT_EQ(t.system.runIOCycle(aggregate, 480), AudioStatuses::ok);
    EXPECT_EQ(t.capture->droppedCycles(), 1u);
    t.queue().resume();
    t.runtime.runUntilIdle();
    ASSERT_EQ(t.buffers.size(), slots);
    for (std::size_t cycle = 0; cycle < slots; ++cycle) {
        ASSERT_EQ(t.buffers[cycle]->frameLength(), 480u);
        EXPECT_EQ(frameOf(*t.buffers[cycle], 0), 480 * static_cast<std::int64_t>(cycle));
        EXPECT_EQ(frameOf(*t.buffers[cycle], 479), 480 * static_cast<std::int64_t>(cycle) + 479);
    }
    const double lastHeld = begun + 0.01 * static_cast<double>(held - 1);
    EXPECT_TRUE(t.farEnd->level(lastHeld + 0.005, lastHeld + 0.006));
    EXPECT_FALSE(t.farEnd->level(lastHeld + 0.015, lastHeld + 0.016)) << "the dropped cycle is not heard";

    // A cycle longer than a slot is split over slots; each piece is a buffer
    // of its own, timed where it starts, and the whole cycle is heard.
    t.buffers.clear();
    ASSERT_EQ(t.system.runIOCycle(aggregate, 10000), AudioStatuses::ok);
    t.runtime.runUntilIdle();
    ASSERT_EQ(t.buffers.size(), 3u);
    EXPECT_EQ(t.buffers[0]->frameLength(), 4096u);
    EXPECT_EQ(t.buffers[1]->frameLength(), 4096u);
    EXPECT_EQ(t.buffers[2]->frameLength(), 1808u);
    EXPECT_EQ(t.buffers[0]->frameCapacity(), 4096u);
    const std::int64_t before = 480 * (held + 1);
    EXPECT_EQ(frameOf(*t.buffers[0], 0), before);
    EXPECT_EQ(frameOf(*t.buffers[1], 0), before + 4096);
    EXPECT_EQ(frameOf(*t.buffers[2], 1807), before + 9999);
    const double cycleEnd = begun + static_cast<double>(before + 10000) / 48000.0;
    const auto tail = t.farEnd->level(cycleEnd - 0.005, cycleEnd - 0.004);
    ASSERT_TRUE(tail);
    // Its last window holds the last piece's final 368 frames, 9632 to 9999.
    EXPECT_NEAR(*tail, 20 * std::log10(0.3 + (static_cast<double>(before) + 9815.5) * 1e-5), 0.01);

    // A cycle longer than all slots together is dropped whole.
    ASSERT_EQ(t.system.runIOCycle(aggregate, slots * 4096 + 1), AudioStatuses::ok);
    t.runtime.runUntilIdle();
    EXPECT_EQ(t.buffers.size(), 3u);
    EXPECT_EQ(t.capture->droppedCycles(), 2u);
    t.stop();
    EXPECT_EQ(t.capture->slotFrames(), 0u);

    // Separate channels split alike.
    t.buffers.clear();
    t.system.setTapFormat(AudioStreamDescription::pcm({48000, 2, SampleType::float32, false}));
    t.start();
    const std::int64_t first = static_cast<std::int64_t>(t.system.sampleTime(t.capture->aggregateID()));
    ASSERT_EQ(t.system.runIOCycle(t.capture->aggregateID(), 5000), AudioStatuses::ok);
    t.runtime.runUntilIdle();
    ASSERT_EQ(t.buffers.size(), 2u);
    EXPECT_EQ(t.buffers[1]->frameLength(), 904u);
    EXPECT_EQ(frameOf(*t.buffers[1], 0, 0), first + 4096);
    EXPECT_EQ(frameOf(*t.buffers[1], 903, 1), first + 4999);
    t.stop();
}

TEST(CallAudioCapture, AFailedStartLeavesNothingBehind)
{
    Capturing t;
    auto startText = [&] { return startErrorText([&] { t.start(); }); };

    t.system.fail(sim::anyObject, sim::anySelector, AudioOperation::createProcessTap, refused, 1);
    EXPECT_EQ(startText(), "无法开始收听系统声音（560947818）（CAP-2）");
    EXPECT_TRUE(t.nothingLeft());

    t.system.fail(sim::anyObject, sim::anySelector, AudioOperation::createAggregateDevice, -50, 1);
    EXPECT_EQ(startText(), "无法开始收听系统声音（-50）（CAP-2）");
    EXPECT_TRUE(t.nothingLeft());

    t.system.fail(sim::anyObject, "tfmt"_fcc, AudioOperation::getPropertyData, refused, 1);
    EXPECT_EQ(startText(), "无法开始收听系统声音（CAP-2）");
    EXPECT_TRUE(t.nothingLeft());

    // A procedure that is not made, whether or not the call says so.
    t.system.fail(sim::anyObject, sim::anySelector, AudioOperation::createIOProc, refused, 1);
    EXPECT_EQ(startText(), "无法开始收听系统声音（CAP-2）");
    t.system.fail(sim::anyObject, sim::anySelector, AudioOperation::createIOProc, AudioStatuses::ok, 1);
    EXPECT_EQ(startText(), "无法开始收听系统声音（CAP-2）");
    EXPECT_TRUE(t.nothingLeft());

    t.system.fail(sim::anyObject, sim::anySelector, AudioOperation::startDevice, refused, 1);
    EXPECT_EQ(startText(), "无法开始收听系统声音（560947818）（CAP-2）");
    EXPECT_TRUE(t.nothingLeft());
    EXPECT_FALSE(t.farEndWaitsForTap());

    // A failed start installs no system listener, so changes do not repair it.
    EXPECT_EQ(t.system.listenerCount(audioSystemObject, dOut), 0u);
    t.system.notify(audioSystemObject, dOut);
    t.runtime.advance(10);
    EXPECT_TRUE(t.nothingLeft());
    EXPECT_TRUE(t.stops.empty());

    // The next start works and there is one of everything, even when it is
    // started again without a stop.
    t.start();
    t.start();
    EXPECT_EQ(t.system.taps().size(), 1u);
    EXPECT_EQ(t.system.aggregates().size(), 1u);
    EXPECT_EQ(t.system.ioProcs().size(), 1u);
    EXPECT_EQ(t.system.listenerCount(audioSystemObject, dOut), 1u);
    t.stop();
    EXPECT_TRUE(t.nothingLeft());
}

TEST(CallAudioCapture, RepairsAfterOutputChangesServerRestartsAndADeadDevice)
{
    Capturing t;
    t.start();
    const AudioIOProcId firstProc = *t.capture->procID();
    const AudioObjectId firstAggregate = t.capture->aggregateID();
    const std::string firstUID = t.system.aggregates().at(firstAggregate).uid;

    auto feed = [&] {
        ASSERT_EQ(t.system.runIOCycle(t.capture->aggregateID(), 480), AudioStatuses::ok);
        t.runtime.runUntilIdle();
    };
    feed();

    // The default output changed: a fresh tap and device, one of each, and
    // the far end unknown again until the new tap reports.
    t.system.notify(audioSystemObject, dOut);
    t.runtime.runUntilIdle();
    EXPECT_EQ(t.capture->procID(), firstProc + 1);
    EXPECT_NE(t.capture->aggregateID(), firstAggregate);
    ASSERT_EQ(t.system.aggregates().size(), 1u);
    EXPECT_NE(t.system.aggregates().begin()->second.uid, firstUID);
    EXPECT_EQ(t.system.taps().size(), 1u);
    EXPECT_EQ(t.system.ioProcs().size(), 1u);
    EXPECT_EQ(t.system.listenerCount(audioSystemObject, dOut), 1u);
    EXPECT_TRUE(t.farEndWaitsForTap());
    feed();
    EXPECT_EQ(t.buffers.size(), 2u);

    // The audio server restarted.
    t.system.notify(audioSystemObject, srst);
    t.runtime.runUntilIdle();
    EXPECT_EQ(t.capture->procID(), firstProc + 2);
    feed();
    EXPECT_EQ(t.buffers.size(), 3u);

    // The device says it is alive: nothing to do. It says it died, or its
    // state cannot be read: rebuilt.
    const AudioObjectId current = t.capture->aggregateID();
    t.system.notify(current, livn);
    t.runtime.runUntilIdle();
    EXPECT_EQ(t.capture->procID(), firstProc + 2);
    t.system.store(current, livn, std::uint32_t{0});
    t.system.notify(current, livn);
    t.runtime.runUntilIdle();
    EXPECT_EQ(t.capture->procID(), firstProc + 3);
    t.system.fail(t.capture->aggregateID(), "livn"_fcc, AudioOperation::getPropertyData, refused, 1);
    t.system.notify(t.capture->aggregateID(), livn);
    t.runtime.runUntilIdle();
    EXPECT_EQ(t.capture->procID(), firstProc + 4);

    // A death notice of a device that has been replaced meanwhile is ignored.
    const AudioObjectId replaced = t.capture->aggregateID();
    t.system.store(replaced, livn, std::uint32_t{0});
    t.queue().suspend();
    t.system.notify(audioSystemObject, dOut);
    t.system.notify(replaced, livn);
    t.queue().resume();
    t.runtime.runUntilIdle();
    EXPECT_EQ(t.capture->procID(), firstProc + 5);
    EXPECT_EQ(t.buffers.size(), 3u);
    EXPECT_TRUE(t.stops.empty());

    t.stop();
    EXPECT_TRUE(t.nothingLeft());
    EXPECT_TRUE(t.system.listeners().empty());
    // Stopped: changes no longer rebuild anything.
    t.system.notify(audioSystemObject, dOut);
    t.runtime.advance(5);
    EXPECT_TRUE(t.nothingLeft());
}

TEST(CallAudioCapture, RebuildsWhenTheServerItselfAnnouncesAChange)
{
    // No notification is forged here: the sim announces what a server would.
    Capturing t;
    t.system.addDevice(test::simDevice(30, "speakers").output({2}));
    t.system.addDevice(test::simDevice(31, "headphones").output({2}));
    t.system.setDefaultDevice(false, 30);
    t.start();
    const AudioIOProcId firstProc = *t.capture->procID();

    // The default output unplugged: the server falls back on the headphones.
    t.system.removeObject(30);
    t.runtime.runUntilIdle();
    EXPECT_EQ(t.system.defaultDevice(false), 31u);
    EXPECT_EQ(t.capture->procID(), firstProc + 1);
    EXPECT_EQ(t.system.aggregates().size(), 1u);

    // The server drops the capture's device: its death notice rebuilds it.
    t.system.removeObject(t.capture->aggregateID());
    t.runtime.runUntilIdle();
    EXPECT_EQ(t.capture->procID(), firstProc + 2);
    EXPECT_EQ(t.system.aggregates().size(), 1u);
    EXPECT_EQ(t.system.taps().size(), 1u);
    ASSERT_EQ(t.system.runIOCycle(t.capture->aggregateID(), 480), AudioStatuses::ok);
    t.runtime.runUntilIdle();
    EXPECT_EQ(t.buffers.size(), 1u);
    EXPECT_TRUE(t.stops.empty());

    t.stop();
    EXPECT_TRUE(t.nothingLeft());
}

TEST(CallAudioCapture, GivesUpAfterFiveFailedBuildsAndTheFarEndStopsWaiting)
{
    Capturing t;
    t.start();
    auto guard = std::make_shared<EchoGuard>(t.farEnd);
    const AudioFormat mic{48000, 1, SampleType::float32, false};
    PcmBuffer speech(mic, 4096);
    speech.setFrameLength(4096);

    // Every build fails from now on.
    t.system.fail(sim::anyObject, sim::anySelector, AudioOperation::createAggregateDevice, refused);
    t.system.notify(audioSystemObject, dOut);
    t.runtime.runUntilIdle();
    EXPECT_TRUE(t.nothingLeft());
    // While repairs go on, the tap counts as running: microphone buffers wait.
    EXPECT_TRUE(t.farEndWaitsForTap());
    EXPECT_TRUE(guard->push(speech, std::nullopt, rt::clock().hostTime()).empty());

    t.runtime.advance(3.5);
    EXPECT_TRUE(t.stops.empty());
    t.runtime.advance(0.5);
    EXPECT_EQ(t.stops, (std::vector<std::string>{"无法开始收听系统声音（560947818）（CAP-2）"}));
    EXPECT_TRUE(t.nothingLeft());
    t.runtime.advance(30);
    EXPECT_EQ(t.stops.size(), 1u);

    // Given up, the far-end record knows no tap runs: the microphone is no
    // longer held back for a second per buffer.
    EXPECT_FALSE(t.farEndWaitsForTap());
    const auto released = guard->push(speech, std::nullopt, rt::clock().hostTime());
    EXPECT_EQ(released.size(), 2u);

    // A later change tries again from the start, and works.
    t.system.clearFailures();
    t.system.notify(audioSystemObject, srst);
    t.runtime.runUntilIdle();
    EXPECT_EQ(t.system.aggregates().size(), 1u);
    EXPECT_TRUE(t.farEndWaitsForTap());

    // Stopping while a retry is scheduled ends the retries.
    t.system.fail(sim::anyObject, sim::anySelector, AudioOperation::createProcessTap, refused);
    t.system.notify(audioSystemObject, dOut);
    t.runtime.advance(1.5);
    t.stop();
    t.runtime.advance(10);
    EXPECT_EQ(t.stops.size(), 1u);
    EXPECT_TRUE(t.nothingLeft());

    // So does a new start: its own build succeeds, the old retries stay away.
    t.system.clearFailures();
    t.start();
    t.system.fail(sim::anyObject, sim::anySelector, AudioOperation::createProcessTap, refused, 1);
    t.system.notify(audioSystemObject, dOut);
    t.runtime.advance(0.5);
    EXPECT_TRUE(t.nothingLeft());
    t.start();
    const AudioIOProcId restarted = *t.capture->procID();
    t.runtime.advance(10);
    EXPECT_EQ(t.capture->procID(), restarted);
    EXPECT_EQ(t.stops.size(), 1u);
    t.stop();
}

TEST(CallAudioCapture, StopAndWaitIsBoundedWhenTheQueueIsBlocked)
{
    Capturing t;
    t.start();
    // Free queue: the stop has run when the call returns.
    EXPECT_TRUE(t.capture->stopAndWait());
    EXPECT_TRUE(t.nothingLeft());

    // Blocked queue: the test queue gives up at once; the real wait would
    // take the whole bound, which is accounted here on the manual clock.
    t.start();
    t.queue().suspend();
    const double before = rt::clock().uptime();
    EXPECT_FALSE(t.capture->stopAndWait());
    t.runtime.advance(CallAudioCapture::stopWaitSeconds);
    EXPECT_DOUBLE_EQ(rt::clock().uptime() - before, 0.5);
    EXPECT_EQ(t.system.taps().size(), 1u);

    // The owner lets go at quit; the posted stop still runs once the queue
    // moves, and nothing is left.
    std::weak_ptr<CallAudioCapture> weak = t.capture;
    t.capture.reset();
    EXPECT_FALSE(weak.expired());
    t.queue().resume();
    t.runtime.runUntilIdle();
    EXPECT_TRUE(weak.expired());
    EXPECT_TRUE(t.nothingLeft());
    EXPECT_TRUE(t.system.listeners().empty());
    EXPECT_FALSE(t.farEndWaitsForTap());
}

}  // namespace
}  // namespace parlaro
