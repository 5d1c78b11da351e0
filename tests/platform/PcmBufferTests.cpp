#include "platform/PcmBuffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

namespace parlaro {
namespace {

AudioFormat format(std::uint32_t channels, SampleType type, bool interleaved)
{
    return {.sampleRate = 48000, .channelCount = channels, .sampleType = type, .interleaved = interleaved};
}

TEST(AudioFormat, SizesValidityAndEquality)
{
    EXPECT_EQ(format(2, SampleType::float32, false).bytesPerFrame(), 8u);
    EXPECT_EQ(format(2, SampleType::int16, true).bytesPerFrame(), 4u);
    EXPECT_EQ(format(1, SampleType::int16, true).bytesPerSample(), 2u);

    EXPECT_TRUE(format(1, SampleType::float32, false).isValid());
    EXPECT_FALSE(format(0, SampleType::float32, false).isValid());
    EXPECT_FALSE((AudioFormat{.sampleRate = 0}).isValid());
    EXPECT_FALSE((AudioFormat{.sampleRate = NAN}).isValid());

    EXPECT_EQ(format(2, SampleType::int16, true), format(2, SampleType::int16, true));
    EXPECT_NE(format(2, SampleType::int16, true), format(2, SampleType::int16, false));
    EXPECT_NE(format(2, SampleType::int16, true), format(2, SampleType::float32, true));
    EXPECT_THROW(PcmBuffer(format(0, SampleType::float32, false), 10), std::invalid_argument);
}

TEST(PcmBuffer, LayoutsAddressTheSameSamples)
{
    for (bool interleaved : {false, true}) {
        PcmBuffer buffer(format(2, SampleType::float32, interleaved), 4);
        EXPECT_EQ(buffer.frameLength(), 0u);
        EXPECT_EQ(buffer.stride(), interleaved ? 2u : 1u);
        for (std::size_t frame = 0; frame < 4; ++frame) {
            buffer.floatChannelData(0)[frame * buffer.stride()] = 0.1f * float(frame);
            buffer.floatChannelData(1)[frame * buffer.stride()] = -0.1f * float(frame);
        }
        EXPECT_FLOAT_EQ(buffer.floatSample(3, 0), 0.3f);
        EXPECT_FLOAT_EQ(buffer.floatSample(3, 1), -0.3f);
        EXPECT_FLOAT_EQ(buffer.floatSample(1, 1), -0.1f);
        EXPECT_EQ(buffer.int16ChannelData(0), nullptr);
        EXPECT_EQ(buffer.floatChannelData(2), nullptr);
        EXPECT_THROW(buffer.floatSample(4, 0), std::out_of_range);
        EXPECT_THROW(buffer.floatSample(0, 2), std::out_of_range);
    }

    PcmBuffer interleaved(format(2, SampleType::int16, true), 3);
    interleaved.setFloatSample(1, 1, 0.5f);
    // Frame 1, channel 1 of an interleaved stereo buffer is sample 3.
    EXPECT_EQ(interleaved.int16ChannelData(0)[3], 16384);
    EXPECT_EQ(interleaved.floatChannelData(0), nullptr);
}

TEST(PcmBuffer, FrameLengthStaysWithinCapacity)
{
    PcmBuffer buffer(format(1, SampleType::float32, false), 8);
    buffer.setFrameLength(8);
    EXPECT_EQ(buffer.frameLength(), 8u);
    EXPECT_THROW(buffer.setFrameLength(9), std::out_of_range);
    EXPECT_EQ(buffer.frameLength(), 8u);
}

TEST(PcmBuffer, Int16ScalingAndClipping)
{
    EXPECT_EQ(floatToInt16(0.5f), 16384);
    EXPECT_EQ(floatToInt16(-1.0f), -32768);
    EXPECT_EQ(floatToInt16(1.0f), 32767);
    EXPECT_EQ(floatToInt16(1.5f), 32767);
    EXPECT_EQ(floatToInt16(-7.0f), -32768);
    EXPECT_EQ(floatToInt16(NAN), 0);
    EXPECT_EQ(floatToInt16(INFINITY), 32767);
    EXPECT_FLOAT_EQ(int16ToFloat(-32768), -1.0f);
    EXPECT_FLOAT_EQ(int16ToFloat(16384), 0.5f);
    for (int sample : {-32768, -12345, -1, 0, 1, 777, 32767}) {
        EXPECT_EQ(floatToInt16(int16ToFloat(static_cast<std::int16_t>(sample))), sample);
    }
}

TEST(PcmBuffer, PeakLevelCoversFilledFramesOfEveryChannel)
{
    PcmBuffer empty(format(2, SampleType::float32, false), 16);
    EXPECT_EQ(peakLevel(empty), 0.0f);

    PcmBuffer stereo(format(2, SampleType::float32, true), 4);
    stereo.setFrameLength(3);
    stereo.setFloatSample(0, 0, 0.25f);
    stereo.setFloatSample(2, 1, -0.75f);
    stereo.setFloatSample(3, 0, 0.99f);  // beyond the frame length
    EXPECT_FLOAT_EQ(peakLevel(stereo), 0.75f);

    PcmBuffer pcm(format(2, SampleType::int16, false), 4);
    pcm.setFrameLength(4);
    pcm.int16ChannelData(1)[2] = -32768;
    EXPECT_FLOAT_EQ(peakLevel(pcm), 1.0f);
    pcm.int16ChannelData(1)[2] = 8192;
    EXPECT_FLOAT_EQ(peakLevel(pcm), 0.25f);
}

}  // namespace
}  // namespace parlaro
