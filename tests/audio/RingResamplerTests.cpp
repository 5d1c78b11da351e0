#include "audio/RingResampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

using namespace parlaro;

namespace {

// Writes `count` frames of a 1000 Hz sine at 44.1 kHz (amplitude 0.5, right
// channel inverted) at sample time `at`.
void writeSine(SampleTimeRing& ring, std::int64_t at, std::int64_t count)
{
    std::vector<float> frames;
    for (std::int64_t t = at; t < at + count; ++t) {
        const auto sample =
            static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 1000.0 * static_cast<double>(t) / 44100.0));
        frames.push_back(sample);
        frames.push_back(-sample);
    }
    ring.write({frames.data(), 2, frames.data() + 1, 2}, count, at);
}

}  // namespace

TEST(RingResampler, Converts44100To48000AtASteadyDistanceBehindTheInput)
{
    SampleTimeRing ring;
    std::vector<float> pullArea(2 * RingResampler::pullFrames);
    auto created = RingResampler::create(ring, 1024, pullArea.data());
    ASSERT_NE(created.resampler, nullptr);
    EXPECT_EQ(created.error, 0);
    RingResampler& resampler = *created.resampler;

    resampler.place(ring.end());
    EXPECT_FALSE(resampler.cursor().has_value()) << "nowhere to place it before input exists";

    writeSine(ring, 0, 4096);
    resampler.place(ring.end());
    EXPECT_EQ(resampler.cursor(), 3072);
    resampler.place(ring.end() + 500);
    EXPECT_EQ(resampler.cursor(), 3072) << "placed once";

    const double ratio = 48000.0 / 44100.0;
    std::vector<float> out(2 * 512);
    std::vector<float> left;
    std::vector<float> right;
    std::int64_t written = 4096;
    double due = 4096;
    std::int64_t minLag = 1 << 20;
    std::int64_t maxLag = 0;
    for (int cycle = 0; cycle < 60; ++cycle) {
        due += 512 / ratio;
        const auto upTo = static_cast<std::int64_t>(due);
        writeSine(ring, written, upTo - written);
        written = upTo;
        EXPECT_EQ(resampler.render(out.data(), 512, ratio), 512);
        if (cycle >= 10) {
            const std::int64_t lag = ring.end() - *resampler.cursor();
            minLag = std::min(minLag, lag);
            maxLag = std::max(maxLag, lag);
            for (int i = 0; i < 512; ++i) {
                left.push_back(out[2 * i]);
                right.push_back(out[2 * i + 1]);
            }
        }
    }
    // The cursor keeps its place behind the input: no drift, no resync.
    EXPECT_GE(minLag, 256);
    EXPECT_LE(maxLag, 1024);

    // The tone keeps its pitch: 1000 Hz is a 48-frame period at 48 kHz.
    int crossings = 0;
    float peak = 0;
    for (std::size_t i = 1; i < left.size(); ++i) {
        if ((left[i - 1] < 0) != (left[i] < 0)) {
            ++crossings;
        }
        peak = std::max(peak, std::abs(left[i]));
        EXPECT_FLOAT_EQ(right[i], -left[i]);
    }
    const double seconds = static_cast<double>(left.size()) / 48000.0;
    EXPECT_NEAR(crossings / 2.0 / seconds, 1000.0, 5.0);
    EXPECT_NEAR(peak, 0.5, 0.02);

    // A ratio the converter refuses produces nothing: the cycle is silence.
    std::fill(out.begin(), out.end(), 1.0f);
    EXPECT_LE(resampler.render(out.data(), 512, 0.0), 0);
    EXPECT_EQ(out, std::vector<float>(2 * 512, 0.0f));
}

TEST(RingResampler, PullsResyncWhenTheInputStopsOrLeapsAway)
{
    SampleTimeRing ring;
    std::vector<float> pullArea(2 * RingResampler::pullFrames);
    auto created = RingResampler::create(ring, 1024, pullArea.data());
    RingResampler& resampler = *created.resampler;
    writeSine(ring, 0, 2048);
    resampler.place(ring.end());
    std::vector<float> out(2 * 512);
    // The input stops; every pull that would pass the newest frame starts
    // again 1024 frames behind it, so the cursor never leaves the held window.
    for (int cycle = 0; cycle < 20; ++cycle) {
        resampler.render(out.data(), 512, 1.0);
        EXPECT_LE(*resampler.cursor(), 2048);
        EXPECT_GE(*resampler.cursor(), 1024);
    }
    // The input leaps a whole ring ahead: the next pull lands behind the new end.
    writeSine(ring, 200000, 2048);
    resampler.render(out.data(), 512, 1.0);
    EXPECT_GE(*resampler.cursor(), 200000 + 1024);
    EXPECT_LE(*resampler.cursor(), 200000 + 2048);
}
