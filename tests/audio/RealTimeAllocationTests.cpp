// Proves that the real-time I/O procedures, and the queue trigger they fire,
// never touch the heap or take a lock: RealTimeCounting counts both while
// the current thread is inside a procedure call made below.

#include "ForwardingWorld.h"
#include "RealTimeCounting.h"

#include "audio/CallAudioCapture.h"
#include "audio/DeviceForwarder.h"
#include "platform/sim/AudioSystemDecorator.h"
#include "runtime/ThreadSerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <list>
#include <mutex>

using namespace parlaro;
using namespace parlaro::test;

namespace {

using Inside = CountingScope;

// Keeps the heap calls of the controls from being optimised away.
void* volatile kept = nullptr;

// An optimiser may drop a new whose pointer never escapes, with its delete;
// this one escapes.
void newAndDelete()
{
    kept = new int(1);
    delete static_cast<int*>(kept);
}

// Runs cycles of both procedures by hand: before any input, steady, with the
// input stopped (resyncs), with stamps lacking host times, and with an input
// that leaps far ahead. Returns what the procedures did.
RealTimeCounts countsWhileForwarding(DeviceForwarder& forwarder, AudioObjectId input, AudioObjectId output)
{
    std::vector<float> captured(512);
    const AudioIOBuffer in{1, 512 * 4, captured.data()};
    std::vector<float> played(2 * 512);
    AudioIOBuffer out{2, 512 * 8, played.data()};
    const double ticksPerFrame = forwarder.hostTicksPerInputFrame();
    auto stamp = [&](double sample, bool hostValid) {
        AudioTimeStamp time;
        time.sampleTime = sample;
        time.hostTime = 1'000'000'000 + static_cast<std::uint64_t>(sample * ticksPerFrame);
        time.flags = AudioTimeStamp::sampleTimeValid | (hostValid ? AudioTimeStamp::hostTimeValid : 0U);
        return time;
    };
    resetCounts();
    double inputTime = 0;
    double outputTime = 0;
    for (int cycle = 0; cycle < 400; ++cycle) {
        for (std::size_t i = 0; i < captured.size(); ++i) {
            captured[i] = static_cast<float>(std::sin(0.01 * (inputTime + static_cast<double>(i))));
        }
        const bool inputRuns = cycle >= 3 && (cycle < 150 || cycle >= 200);
        const bool hostValid = cycle % 7 != 0;
        if (cycle == 300) {
            inputTime += 1'000'000;
        }
        Inside inside;
        if (inputRuns) {
            DeviceForwarder::inputProc(input, stamp(inputTime + 512, hostValid), {&in, 1}, stamp(inputTime, hostValid),
                                       {}, {}, &forwarder);
            inputTime += 512;
        }
        DeviceForwarder::outputProc(output, stamp(outputTime, hostValid), {}, {}, {&out, 1},
                                    stamp(outputTime + 512, hostValid), &forwarder);
        outputTime += 512;
    }
    return countsInside();
}

}  // namespace

TEST(RealTimeProcedures, TheCountsSeeEveryHeapAndLockCall)
{
    resetCounts();
    {
        Inside inside;
        newAndDelete();
    }
    EXPECT_EQ(countsInside(), (RealTimeCounts{1, 1, 0})) << "operator new and delete";
    resetCounts();
    {
        Inside inside;
        kept = std::malloc(16);
        std::free(kept);
        kept = std::calloc(4, 4);
        std::free(kept);
        kept = std::realloc(nullptr, 16);
        std::free(kept);
    }
    EXPECT_EQ(countsInside().allocations, 3) << "malloc, calloc and realloc";
    EXPECT_EQ(countsInside().frees, 3);
    std::mutex mutex;
    std::condition_variable condition;
    resetCounts();
    {
        Inside inside;
        mutex.lock();
        mutex.unlock();
        condition.notify_one();
    }
    EXPECT_EQ(countsInside(), (RealTimeCounts{0, 0, 2})) << "a mutex and a condition signal";
    resetCounts();
    kept = std::malloc(1);
    std::free(kept);
    mutex.lock();
    mutex.unlock();
    EXPECT_EQ(countsInside(), RealTimeCounts{}) << "nothing counts outside";
}

TEST(RealTimeProcedures, ForwardingNeverAllocatesOrLocks)
{
    ForwardingWorld world;
    DeviceForwarder direct(microphoneID, virtualDeviceID, false);
    EXPECT_EQ(countsWhileForwarding(direct, microphoneID, virtualDeviceID), RealTimeCounts{}) << "direct";
    EXPECT_GT(direct.head().resyncs, 0);

    DeviceForwarder resampled(slowMicrophoneID, virtualDeviceID, false);
    ASSERT_EQ(resampled.mode(), DeviceForwarder::Mode::resample);
    EXPECT_EQ(countsWhileForwarding(resampled, slowMicrophoneID, virtualDeviceID), RealTimeCounts{}) << "resampled";
    EXPECT_TRUE(resampled.errorValid());
}

// Fires while the queue's thread sleeps, while it is busy, and again and
// again before it runs: never a heap or lock call, and every fire is served.
TEST(RealTimeProcedures, ThreadQueueTriggerFiresWithoutHeapOrLock)
{
    rt::ThreadSerialQueue queue("capture");
    std::atomic<int> runs{0};
    auto trigger = queue.makeTrigger([&runs] { ++runs; });
    queue.sync([] {});

    resetCounts();
    {
        Inside inside;
        trigger.fire();
    }
    EXPECT_EQ(countsInside(), RealTimeCounts{}) << "waking the idle thread";
    queue.sync([] {});
    EXPECT_EQ(runs.load(), 1);

    // The fires below must find the queue inside a job, not still on its
    // way to it: a fire before the job starts is run first, on its own.
    std::promise<void> started;
    std::promise<void> release;
    queue.async([&started, busy = release.get_future().share()] {
        started.set_value();
        busy.wait();
    });
    started.get_future().wait();
    resetCounts();
    {
        Inside inside;
        for (int i = 0; i < 100; ++i)
            trigger.fire();
    }
    EXPECT_EQ(countsInside(), RealTimeCounts{}) << "firing at a busy queue";
    release.set_value();
    queue.sync([] {});
    EXPECT_EQ(runs.load(), 2) << "fires before a run share it";
}

namespace {

// Stands in front of the sim and registers, for every I/O procedure a caller
// asks for, one of its own that runs the caller's with the counting on: the
// cycles the sim drives then count only what the procedures allocate.
class CountingProcedures final : public sim::AudioSystemDecorator {
public:
    using AudioSystemDecorator::AudioSystemDecorator;

    AudioStatus createIOProc(AudioObjectId device, AudioIOProc proc, void* context, AudioIOProcId& id) override
    {
        Wrapped& wrapped = wrapped_.emplace_back(Wrapped{proc, context});
        return system_.createIOProc(device, &CountingProcedures::counted, &wrapped, id);
    }

private:
    struct Wrapped {
        AudioIOProc proc;
        void* context;
    };

    static AudioStatus counted(AudioObjectId device, const AudioTimeStamp& now, std::span<const AudioIOBuffer> input,
                               const AudioTimeStamp& inputTime, std::span<AudioIOBuffer> output,
                               const AudioTimeStamp& outputTime, void* context)
    {
        const auto& wrapped = *static_cast<const Wrapped*>(context);
        Inside inside;
        return wrapped.proc(device, now, input, inputTime, output, outputTime, wrapped.context);
    }

    std::list<Wrapped> wrapped_;
};

AudioStatus allocatingProc(AudioObjectId, const AudioTimeStamp&, std::span<const AudioIOBuffer>, const AudioTimeStamp&,
                           std::span<AudioIOBuffer>, const AudioTimeStamp&, void*)
{
    newAndDelete();
    return AudioStatuses::ok;
}

}  // namespace

// The far-end capture's procedure on the production queue, whose trigger
// wakes its thread: steady cycles and one split over three slots.
TEST(RealTimeProcedures, FarEndCaptureNeverAllocatesOrLocks)
{
    ForwardingWorld world;
    rt::ThreadQueueFactory threads;
    rt::Environment environment = rt::environment();
    environment.queues = &threads;
    rt::EnvironmentScope productionQueues(environment);
    CountingProcedures counting(world.audio);
    world.audio.addProcess({501, 77, "com.example.call", true, true, {}, {}, [](std::uint32_t, double frame) {
                                return static_cast<float>(0.2 * std::sin(frame * 0.01));
                            }});

    auto capture = std::make_shared<CallAudioCapture>(std::make_shared<FarEndActivity>());
    std::vector<std::size_t> frames;  // on the capture's queue until a sync returns
    capture->queue()->sync([&] {
        capture->start([&](std::shared_ptr<const PcmBuffer> buffer) { frames.push_back(buffer->frameLength()); },
                       [](const std::string&) {});
    });
    const AudioObjectId aggregate = capture->aggregateID();
    ASSERT_NE(aggregate, 0u);

    // Positive control: a procedure that allocates, run by the sim through
    // the same wrapping, is counted.
    AudioIOProcId allocating = 0;
    ASSERT_EQ(counting.createIOProc(aggregate, &allocatingProc, nullptr, allocating), AudioStatuses::ok);
    ASSERT_EQ(counting.startDevice(aggregate, allocating), AudioStatuses::ok);
    resetCounts();
    ASSERT_EQ(world.audio.runIOCycle(aggregate, 480), AudioStatuses::ok);
    EXPECT_EQ(countsInside(), (RealTimeCounts{1, 1, 0})) << "the counting is active inside procedures the sim runs";
    counting.stopDevice(aggregate, allocating);
    counting.destroyIOProc(aggregate, allocating);
    capture->queue()->sync([] {});

    // Five steady cycles and one of 10000 frames fill at most all eight
    // slots, so none is dropped however late the queue's thread runs.
    frames.clear();
    resetCounts();
    for (int cycle = 0; cycle < 5; ++cycle)
        ASSERT_EQ(world.audio.runIOCycle(aggregate, 480), AudioStatuses::ok);
    ASSERT_EQ(world.audio.runIOCycle(aggregate, 10000), AudioStatuses::ok);
    EXPECT_EQ(countsInside(), RealTimeCounts{}) << "no heap or lock call, the trigger's fire included";

    std::uint64_t dropped = 1;
    capture->queue()->sync([&] { dropped = capture->droppedCycles(); });
    EXPECT_EQ(frames, (std::vector<std::size_t>{480, 480, 480, 480, 480, 4096, 4096, 1808}));
    EXPECT_EQ(dropped, 0u);
    capture->queue()->sync([&] { capture->stop(); });
}
