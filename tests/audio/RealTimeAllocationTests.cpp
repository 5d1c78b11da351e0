// Proves that the real-time I/O procedures never allocate: this test binary
// replaces the global allocation functions with ones that count while the
// current thread is inside a procedure call made below.

#include "ForwardingWorld.h"

#include "audio/CallAudioCapture.h"
#include "audio/HALForwarder.h"
#include "platform/sim/AudioSystemDecorator.h"
#include "runtime/ThreadSerialQueue.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <list>
#include <new>

namespace {

thread_local bool insideProcedure = false;
thread_local int allocationsInside = 0;

void* countedAllocation(std::size_t size)
{
    if (insideProcedure) {
        ++allocationsInside;
    }
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

void* countedAlignedAllocation(std::size_t size, std::align_val_t alignment)
{
    if (insideProcedure) {
        ++allocationsInside;
    }
    const auto align = static_cast<std::size_t>(alignment);
    void* memory = std::aligned_alloc(align, (size + align - 1) / align * align);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

} // namespace

void* operator new(std::size_t size)
{
    return countedAllocation(size);
}
void* operator new[](std::size_t size)
{
    return countedAllocation(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return countedAllocation(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return countedAllocation(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new(std::size_t size, std::align_val_t alignment)
{
    return countedAlignedAllocation(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment)
{
    return countedAlignedAllocation(size, alignment);
}
void operator delete(void* memory) noexcept
{
    std::free(memory);
}
void operator delete[](void* memory) noexcept
{
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept
{
    std::free(memory);
}
void operator delete(void* memory, std::align_val_t) noexcept
{
    std::free(memory);
}
void operator delete[](void* memory, std::align_val_t) noexcept
{
    std::free(memory);
}
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept
{
    std::free(memory);
}
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept
{
    std::free(memory);
}

using namespace parlaro;
using namespace parlaro::test;

namespace {

struct Inside {
    Inside()
    {
        insideProcedure = true;
    }
    ~Inside()
    {
        insideProcedure = false;
    }
};

// Runs cycles of both procedures by hand: before any input, steady, with the
// input stopped (resyncs), with stamps lacking host times, and with an input
// that leaps far ahead. Returns the allocations made inside the procedures.
int allocationsWhileForwarding(HALForwarder& forwarder, AudioObjectId input, AudioObjectId output)
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
    allocationsInside = 0;
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
            HALForwarder::inputProc(input, stamp(inputTime + 512, hostValid), {&in, 1}, stamp(inputTime, hostValid),
                                    {}, {}, &forwarder);
            inputTime += 512;
        }
        HALForwarder::outputProc(output, stamp(outputTime, hostValid), {}, {}, {&out, 1},
                                 stamp(outputTime + 512, hostValid), &forwarder);
        outputTime += 512;
    }
    return allocationsInside;
}

} // namespace

TEST(RealTimeProcedures, NeverAllocate)
{
    ForwardingWorld world;
    {
        Inside inside;
        delete new int(1);
    }
    ASSERT_EQ(allocationsInside, 1) << "the counting hook is active inside a procedure call";

    HALForwarder direct(microphoneID, virtualDeviceID, false);
    EXPECT_EQ(allocationsWhileForwarding(direct, microphoneID, virtualDeviceID), 0) << "direct";
    EXPECT_GT(direct.head().resyncs, 0);

    HALForwarder resampled(slowMicrophoneID, virtualDeviceID, false);
    ASSERT_EQ(resampled.mode(), HALForwarder::Mode::resample);
    EXPECT_EQ(allocationsWhileForwarding(resampled, slowMicrophoneID, virtualDeviceID), 0) << "resampled";
    EXPECT_TRUE(resampled.errorValid());
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
    delete new int(1);
    return AudioStatuses::ok;
}

} // namespace

// The far-end capture's procedure on the production queue, whose trigger
// wakes its thread: steady cycles and one split over three slots.
TEST(RealTimeProcedures, FarEndCaptureNeverAllocates)
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
    allocationsInside = 0;
    ASSERT_EQ(world.audio.runIOCycle(aggregate, 480), AudioStatuses::ok);
    EXPECT_EQ(allocationsInside, 1) << "the counting hook is active inside procedures the sim runs";
    counting.stopDevice(aggregate, allocating);
    counting.destroyIOProc(aggregate, allocating);
    capture->queue()->sync([] {});

    // Five steady cycles and one of 10000 frames fill at most all eight
    // slots, so none is dropped however late the queue's thread runs.
    frames.clear();
    allocationsInside = 0;
    for (int cycle = 0; cycle < 5; ++cycle)
        ASSERT_EQ(world.audio.runIOCycle(aggregate, 480), AudioStatuses::ok);
    ASSERT_EQ(world.audio.runIOCycle(aggregate, 10000), AudioStatuses::ok);
    EXPECT_EQ(allocationsInside, 0);

    std::uint64_t dropped = 1;
    capture->queue()->sync([&] { dropped = capture->droppedCycles(); });
    EXPECT_EQ(frames, (std::vector<std::size_t>{480, 480, 480, 480, 480, 4096, 4096, 1808}));
    EXPECT_EQ(dropped, 0u);
    capture->queue()->sync([&] { capture->stop(); });
}
