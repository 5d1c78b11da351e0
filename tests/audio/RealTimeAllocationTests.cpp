// Proves that the forwarder's I/O procedures never allocate: this test binary
// replaces the global allocation functions with ones that count while the
// current thread is inside a procedure call made below.

#include "ForwardingWorld.h"

#include "audio/HALForwarder.h"

#include <gtest/gtest.h>

#include <cstdlib>
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
