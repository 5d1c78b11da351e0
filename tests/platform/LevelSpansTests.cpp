#include "platform/LevelSpans.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace parlaro;

TEST(LevelSpans, WindowsCoverTheBufferInOrderWithTheRemainderLast)
{
    PcmBuffer buffer(AudioFormat{16000, 2, SampleType::int16, true}, 1000);
    buffer.setFrameLength(1000);
    for (std::size_t frame = 0; frame < 1000; ++frame) {
        buffer.setFloatSample(frame, 0, frame < 160 ? 0.5f : 0.0f);
        buffer.setFloatSample(frame, 1, 1.0f);  // only the first channel counts
    }
    auto spans = levelSpans(buffer, 2.0, 0.01);
    ASSERT_EQ(spans.size(), 7u) << "six windows of 160 frames and one of 40";
    EXPECT_DOUBLE_EQ(spans[0].start, 2.0);
    EXPECT_DOUBLE_EQ(spans[0].end, 2.01);
    EXPECT_NEAR(spans[0].levelDB, 20 * std::log10(0.5), 1e-3);
    EXPECT_EQ(spans[1].levelDB, -120.0) << "digital silence reads the floor";
    EXPECT_DOUBLE_EQ(spans[6].start, 2.06);
    EXPECT_DOUBLE_EQ(spans[6].end, 2.0625);

    PcmBuffer empty(AudioFormat{48000, 1}, 480);
    EXPECT_TRUE(levelSpans(empty, 0.0, 0.01).empty());
    PcmBuffer short48(AudioFormat{48000, 1}, 480);
    short48.setFrameLength(100);
    auto whole = levelSpans(short48, 0.0, 0.01);
    ASSERT_EQ(whole.size(), 1u) << "a buffer shorter than the window is one span";
    EXPECT_NEAR(whole[0].end, 100.0 / 48000, 1e-12);
}
