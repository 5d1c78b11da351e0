#include "audio/CaptureAnchor.h"
#include "audio/ReadHead.h"
#include "audio/SampleTimeRing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace parlaro;

namespace {

std::vector<float> ramp(std::int64_t from, std::int64_t count, float scale = 1.0f)
{
    std::vector<float> values;
    for (std::int64_t i = 0; i < count; ++i) {
        values.push_back(scale * static_cast<float>(from + i));
    }
    return values;
}

}  // namespace

TEST(SampleTimeRing, HoldsTheNewestCapacityFramesByInputSampleTime)
{
    SampleTimeRing ring;
    std::vector<float> out(2 * 8, 7.0f);
    EXPECT_EQ(ring.end(), SampleTimeRing::emptyMarker);
    EXPECT_EQ(ring.read(out.data(), 8, 0), 0);
    EXPECT_EQ(out, std::vector<float>(16, 0.0f)) << "nothing held reads as silence";

    // Stereo interleaved source: left = t, right = -t.
    std::vector<float> interleaved;
    for (std::int64_t t = 100; t < 104; ++t) {
        interleaved.push_back(static_cast<float>(t));
        interleaved.push_back(-static_cast<float>(t));
    }
    ring.write({interleaved.data(), 2, interleaved.data() + 1, 2}, 4, 100);
    EXPECT_EQ(ring.end(), 104);
    EXPECT_EQ(ring.read(out.data(), 8, 100), 4) << "frames from the end on are not held yet";
    EXPECT_EQ(out, (std::vector<float>{100, -100, 101, -101, 102, -102, 103, -103, 0, 0, 0, 0, 0, 0, 0, 0}));

    // Nothing written for an empty count or a missing left channel.
    ring.write({interleaved.data(), 2, nullptr, 1}, 0, 500);
    ring.write({nullptr, 1, interleaved.data(), 1}, 4, 500);
    EXPECT_EQ(ring.end(), 104);

    // Mono: right repeats left.
    const auto mono = ramp(104, 4);
    ring.write({mono.data(), 1, nullptr, 1}, 4, 104);
    ring.read(out.data(), 2, 106);
    EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 4), (std::vector<float>{106, 106, 107, 107}));

    // Across the wrap of the index, and the oldest frames falling out.
    const auto block = ramp(0, SampleTimeRing::capacity);
    ring.write({block.data(), 1, nullptr, 1}, SampleTimeRing::capacity, 108);
    const std::int64_t end = 108 + SampleTimeRing::capacity;
    EXPECT_EQ(ring.end(), end);
    EXPECT_FALSE(SampleTimeRing::holds(end, 107));
    EXPECT_TRUE(SampleTimeRing::holds(end, 108));
    EXPECT_FALSE(SampleTimeRing::holds(end, end));
    EXPECT_EQ(ring.read(out.data(), 4, 106), 2);
    EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 8), (std::vector<float>{0, 0, 0, 0, 0, 0, 1, 1}));
    EXPECT_EQ(ring.read(out.data(), 2, end - 1), 1);
    EXPECT_EQ(out[0], static_cast<float>(SampleTimeRing::capacity - 1));

    // Negative sample times index by the same mask.
    SampleTimeRing early;
    const auto negative = ramp(-3, 6);
    early.write({negative.data(), 1, nullptr, 1}, 6, -3);
    EXPECT_EQ(early.read(out.data(), 6, -3), 6);
    EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 4), (std::vector<float>{-3, -3, -2, -2}));
}

TEST(SampleTimeRing, TakesLeftAndRightFromTheCapturedBuffers)
{
    std::vector<float> out(2 * 2);
    auto frames = [&](SampleTimeRing& ring) {
        ring.read(out.data(), 2, 0);
        return out;
    };
    std::vector<float> wide{1, 2, 3, 4, 5, 6};  // two frames of three channels
    std::vector<float> first{1, 4};
    std::vector<float> second{2, 5};

    SampleTimeRing stereo;
    const AudioIOBuffer three{3, 6 * 4, wide.data()};
    stereo.write({&three, 1}, 2, 0);
    EXPECT_EQ(frames(stereo), (std::vector<float>{1, 2, 4, 5})) << "channels 0 and 1 of one buffer";

    SampleTimeRing split;
    const AudioIOBuffer pair[] = {{1, 2 * 4, first.data()}, {1, 2 * 4, second.data()}};
    split.write(pair, 2, 0);
    EXPECT_EQ(frames(split), (std::vector<float>{1, 2, 4, 5})) << "right from the second buffer";

    SampleTimeRing noChannels;
    const AudioIOBuffer unnamed[] = {{1, 2 * 4, first.data()}, {0, 2 * 4, second.data()}};
    noChannels.write(unnamed, 2, 0);
    EXPECT_EQ(frames(noChannels), (std::vector<float>{1, 2, 4, 5})) << "a channel count of 0 reads as 1";

    SampleTimeRing empty;
    const AudioIOBuffer noData[] = {{1, 2 * 4, first.data()}, {1, 2 * 4, nullptr}};
    empty.write(noData, 2, 0);
    EXPECT_EQ(frames(empty), (std::vector<float>{1, 1, 4, 4})) << "a second buffer without data: mono";

    SampleTimeRing shortRight;
    const AudioIOBuffer uneven[] = {{1, 2 * 4, first.data()}, {1, 1 * 4, second.data()}};
    shortRight.write(uneven, 2, 0);
    EXPECT_EQ(frames(shortRight), (std::vector<float>{1, 1, 4, 4})) << "never read past a short second buffer";

    SampleTimeRing nothing;
    const AudioIOBuffer missing{1, 2 * 4, nullptr};
    nothing.write({&missing, 1}, 2, 0);
    nothing.write(std::span<const AudioIOBuffer>{}, 2, 0);
    EXPECT_EQ(nothing.end(), SampleTimeRing::emptyMarker);
}

TEST(ReadHead, SettlesAtItsDistanceAndResyncsAtTheHeldWindowsEdges)
{
    const std::int64_t capacity = SampleTimeRing::capacity;
    ReadHead head{1024, std::nullopt, 0};
    // First read: placed 1024 behind the newest input, tied to output time 5000.
    EXPECT_EQ(head.start(2048, 5000, 512, capacity), 1024);
    EXPECT_EQ(head.offset, 1024 - 5000);
    // Both clocks advance together: the read follows the output time.
    EXPECT_EQ(head.start(2560, 5512, 512, capacity), 1536);
    EXPECT_EQ(head.resyncs, 0);

    // Input stops at 2560: the read soon runs past the newest frame and snaps
    // back to 1024 behind it, over and over.
    EXPECT_EQ(head.start(2560, 6024, 512, capacity), 2048);
    EXPECT_EQ(head.start(2560, 6536, 512, capacity), 1536) << "2560 would read past the end";
    EXPECT_EQ(head.resyncs, 1);
    EXPECT_EQ(head.start(2560, 7048, 512, capacity), 2048);
    EXPECT_EQ(head.start(2560, 7560, 512, capacity), 1536);
    EXPECT_EQ(head.resyncs, 2);

    // Input leaps ahead by more than the ring holds: placed again.
    const std::int64_t far = 2560 + 2 * capacity;
    EXPECT_EQ(head.start(far, 8072, 512, capacity), far - 1024);
    EXPECT_EQ(head.resyncs, 3);
}

TEST(CaptureAnchor, TranslatesHostTimeToInputSampleTime)
{
    CaptureAnchor anchor;
    EXPECT_FALSE(anchor.snapshot().has_value()) << "sequence 0: no anchor yet";
    EXPECT_FALSE(anchor.inputSampleTime(1000, 10.0).has_value());

    anchor.publish(480.0, 100000);
    EXPECT_EQ(anchor.sequence(), 2U);
    EXPECT_DOUBLE_EQ(*anchor.inputSampleTime(100000, 10.0), 480.0);
    EXPECT_DOUBLE_EQ(*anchor.inputSampleTime(105120, 10.0), 992.0);
    EXPECT_DOUBLE_EQ(*anchor.inputSampleTime(99000, 10.0), 380.0) << "an earlier host time keeps its sign";
    anchor.publish(1000.5, 200000);
    EXPECT_EQ(anchor.sequence(), 4U);
    EXPECT_DOUBLE_EQ(*anchor.inputSampleTime(200000, 10.0), 1000.5);
}

// The one test that uses real threads: the input side writes the ring and
// publishes the anchor while the output side reads both, as on two devices'
// I/O threads. Every frame the reader trusts must hold the value written for
// its sample time, and every anchor it reads must be a consistent pair.
TEST(SampleTimeRing, WriterAndReaderOnTwoThreadsNeverSeeStaleFramesOrTornAnchors)
{
    constexpr std::int64_t block = 256;
    constexpr std::int64_t blocks = 3000;
    constexpr std::uint64_t ticksPerFrame = 3;
    SampleTimeRing ring;
    CaptureAnchor anchor;
    std::atomic<std::int64_t> readerEnd{0};
    std::atomic<bool> done{false};

    // Each frame carries its sample time, so a stale lap or a zero is visible.
    auto value = [](std::int64_t t) { return static_cast<float>(t % 1000000); };

    std::thread writer([&] {
        std::vector<float> interleaved(2 * block);
        for (std::int64_t b = 0; b < blocks; ++b) {
            const std::int64_t at = b * block;
            // Keep within half a ring of the reader, so no frame it may trust is overwritten.
            while (at - readerEnd.load(std::memory_order_acquire) > SampleTimeRing::capacity / 2) {
                std::this_thread::yield();
            }
            for (std::int64_t i = 0; i < block; ++i) {
                interleaved[2 * i] = value(at + i);
                interleaved[2 * i + 1] = -value(at + i);
            }
            ring.write({interleaved.data(), 2, interleaved.data() + 1, 2}, block, at);
            anchor.publish(static_cast<double>(at), static_cast<std::uint64_t>(at) * ticksPerFrame + 7);
        }
        done.store(true, std::memory_order_release);
    });

    std::vector<float> out(2 * 2048);
    std::int64_t reads = 0;
    std::int64_t badFrames = 0;
    std::int64_t anchors = 0;
    std::int64_t tornAnchors = 0;
    double lastAnchor = -1;
    std::int64_t distance = 256;
    for (;;) {
        const bool finished = done.load(std::memory_order_acquire);
        const std::int64_t end = ring.end();
        if (end != SampleTimeRing::emptyMarker) {
            const std::int64_t count = std::min<std::int64_t>(distance, end);
            const std::int64_t from = end - count;
            if (ring.read(out.data(), count, from) != count) {
                ++badFrames;
            }
            for (std::int64_t i = 0; i < count; ++i) {
                if (out[2 * i] != value(from + i) || out[2 * i + 1] != -value(from + i)) {
                    ++badFrames;
                }
            }
            readerEnd.store(end, std::memory_order_release);
            ++reads;
            distance = distance >= 2048 ? 256 : distance + 256;
        }
        if (const auto snapshot = anchor.snapshot()) {
            ++anchors;
            if (snapshot->hostTime != static_cast<std::uint64_t>(snapshot->sampleTime) * ticksPerFrame + 7
                || snapshot->sampleTime < lastAnchor) {
                ++tornAnchors;
            }
            lastAnchor = snapshot->sampleTime;
        }
        if (finished) {
            break;
        }
    }
    writer.join();

    EXPECT_EQ(ring.end(), blocks * block);
    EXPECT_GT(reads, 0);
    EXPECT_GT(anchors, 0);
    EXPECT_EQ(badFrames, 0);
    EXPECT_EQ(tornAnchors, 0);
}
