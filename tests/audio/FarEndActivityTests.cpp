#include "audio/FarEndActivity.h"
#include "runtime/ManualRuntime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace parlaro {
namespace {

using Span = FarEndActivity::Span;
using Spans = std::vector<Span>;
constexpr double never = -std::numeric_limits<double>::infinity();

PcmBuffer filled(AudioFormat format, std::size_t frames, float left, float right = 0.0f)
{
    PcmBuffer buffer(format, frames);
    buffer.setFrameLength(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        buffer.setFloatSample(f, 0, left);
        if (format.channelCount > 1)
            buffer.setFloatSample(f, 1, right);
    }
    return buffer;
}

TEST(FarEndActivity, WindowLevelsOfABuffer)
{
    const AudioFormat mono{48000, 1, SampleType::float32, false};
    auto spans = FarEndActivity::spans(filled(mono, 1000, 0.1f), 100.0, 0.01);
    ASSERT_EQ(spans.size(), 3u);
    EXPECT_DOUBLE_EQ(spans[0].start, 100.0);
    EXPECT_DOUBLE_EQ(spans[0].end, 100.0 + 480.0 / 48000);
    EXPECT_DOUBLE_EQ(spans[1].start, 100.0 + 480.0 / 48000);
    EXPECT_DOUBLE_EQ(spans[2].start, 100.0 + 960.0 / 48000);
    EXPECT_DOUBLE_EQ(spans[2].end, 100.0 + 1000.0 / 48000);
    for (const auto& span : spans)
        EXPECT_NEAR(span.levelDB, -20.0, 1e-5);

    // 16-bit full negative scale is 0 dB; silence is the -120 floor.
    const AudioFormat int16{48000, 1, SampleType::int16, false};
    PcmBuffer loud(int16, 480);
    loud.setFrameLength(480);
    for (std::size_t f = 0; f < 480; ++f)
        loud.int16ChannelData(0)[f] = -32768;
    EXPECT_EQ(FarEndActivity::spans(loud, 0.0, 0.01), (Spans{{0.0, 0.01, 0.0}}));
    EXPECT_EQ(FarEndActivity::spans(filled(int16, 480, 0.0f), 0.0, 0.01), (Spans{{0.0, 0.01, -120.0}}));
    EXPECT_EQ(FarEndActivity::spans(filled(mono, 480, 1e-7f), 0.0, 0.01)[0].levelDB, -120.0);

    // Only the first channel counts, interleaved or not.
    const AudioFormat interleaved{48000, 2, SampleType::float32, true};
    EXPECT_EQ(FarEndActivity::spans(filled(interleaved, 480, 0.0f, 1.0f), 0.0, 0.01)[0].levelDB, -120.0);
    EXPECT_NEAR(FarEndActivity::spans(filled(interleaved, 480, 0.5f, 0.0f), 0.0, 0.01)[0].levelDB, 20 * std::log10(0.5),
                1e-9);
    const AudioFormat planar{48000, 2, SampleType::int16, false};
    EXPECT_EQ(FarEndActivity::spans(filled(planar, 480, 0.0f, 1.0f), 0.0, 0.01)[0].levelDB, -120.0);

    // Nothing in, nothing out; windows shorter than two frames are one frame;
    // a window longer than the buffer is the whole buffer.
    PcmBuffer empty(mono, 480);
    EXPECT_TRUE(FarEndActivity::spans(empty, 0.0, 0.01).empty());
    EXPECT_EQ(FarEndActivity::spans(filled(mono, 3, 0.5f), 0.0, 0.00001).size(), 3u);
    EXPECT_EQ(FarEndActivity::spans(filled(mono, 3, 0.5f), 0.0, 0.0).size(), 3u);
    EXPECT_EQ(FarEndActivity::spans(filled(mono, 3, 0.5f), 0.0, std::nan("")).size(), 3u);
    EXPECT_EQ(FarEndActivity::spans(filled(mono, 3, 0.5f), 0.0, 1e300).size(), 1u);
    // 2.5 frames round away from zero to 3.
    const AudioFormat slow{100, 1, SampleType::float32, false};
    EXPECT_EQ(FarEndActivity::spans(filled(slow, 6, 0.5f), 0.0, 0.025).size(), 2u);
}

TEST(FarEndActivity, LevelsWhileTheTapRunsAndAfter)
{
    rt::ManualRuntime runtime;
    FarEndActivity record;
    // Never started: always a number.
    EXPECT_EQ(record.level(0, 1), -120.0);

    record.tapStarted();
    EXPECT_EQ(record.level(-1000, -999), std::nullopt);
    record.heard({}, 5.0);
    EXPECT_EQ(record.level(0, 1), std::nullopt);

    record.heard({{0.0, 0.5, -30}, {0.5, 1.0, -20}}, 1.0);
    EXPECT_EQ(record.level(0.2, 0.3), -30.0);
    EXPECT_EQ(record.level(0.4, 0.6), -20.0);
    // Touching is not overlapping.
    EXPECT_EQ(record.level(-1.0, 0.0), -120.0);
    EXPECT_EQ(record.level(0.99, 1.0), -20.0);
    // The tap has not reported past 1.0 yet.
    EXPECT_EQ(record.level(1.0, 1.1), std::nullopt);
    EXPECT_EQ(record.level(0.9999, 1.1), -20.0);

    record.played({{1.2, 1.4, -10}});
    EXPECT_EQ(record.level(1.3, 1.35), std::nullopt);
    record.tapStopped();
    EXPECT_EQ(record.level(1.3, 1.35), -10.0);
    EXPECT_EQ(record.level(1.0, 1.1), -120.0);
    EXPECT_EQ(record.level(0.0, 2.0), -10.0);

    // A new start forgets how far the tap had reported.
    record.tapStarted();
    EXPECT_EQ(record.level(0.2, 0.3), std::nullopt);
    record.heard({{1.0, 1.5, -50}}, 1.5);
    EXPECT_EQ(record.level(0.2, 0.3), -30.0);
    EXPECT_EQ(record.spans(never), (Spans{{0.0, 0.5, -30}, {0.5, 1.0, -20}, {1.0, 1.5, -50}, {1.2, 1.4, -10}}));
    EXPECT_EQ(record.spans(1.0), (Spans{{1.0, 1.5, -50}, {1.2, 1.4, -10}}));
}

TEST(FarEndActivity, PlayedSpansAndEarlyStops)
{
    rt::ManualRuntime runtime;
    FarEndActivity record;
    record.played({{3.0, 4.0, -10}, {1.0, 2.0, -20}});
    record.played({{2.0, 3.0, -15}});
    EXPECT_EQ(record.spans(never), (Spans{{1.0, 2.0, -20}, {2.0, 3.0, -15}, {3.0, 4.0, -10}}));

    record.cutPlayed(5.0);
    EXPECT_EQ(record.spans(never).size(), 3u);
    record.cutPlayed(2.5);
    EXPECT_EQ(record.spans(never), (Spans{{1.0, 2.0, -20}, {2.0, 2.5, -15}}));
    EXPECT_EQ(record.level(2.6, 3.5), -120.0);
    record.cutPlayed(0.5);
    EXPECT_TRUE(record.spans(never).empty());
    EXPECT_EQ(record.level(0, 10), -120.0);

    // Heard spans do not stop with playback.
    record.heard({{0.0, 1.0, -40}}, 1.0);
    record.cutPlayed(0.0);
    EXPECT_EQ(record.spans(never), (Spans{{0.0, 1.0, -40}}));
}

TEST(FarEndActivity, KeepsAboutSixSecondsOfHistory)
{
    rt::ManualRuntime runtime;
    FarEndActivity record;
    record.tapStarted();
    // Half-second spans: nothing goes until the oldest ends more than 6 s
    // before the latest report, then everything before the 5 s horizon.
    for (int k = 0; k < 13; ++k)
        record.heard({{k * 0.5, (k + 1) * 0.5, -30}}, (k + 1) * 0.5);
    EXPECT_EQ(record.spans(never).size(), 13u);
    record.heard({{6.5, 7.0, -30}}, 7.0);
    auto kept = record.spans(never);
    ASSERT_EQ(kept.size(), 11u);
    EXPECT_EQ(kept.front(), (Span{1.5, 2.0, -30}));

    // Playback prunes against the earlier of now and its own first start.
    FarEndActivity playback;
    playback.played({{0.0, 1.0, -10}});
    runtime.advance(5.5);
    playback.played({{7.0, 8.0, -10}});
    EXPECT_EQ(playback.spans(never).size(), 2u);
    runtime.advance(4.5);  // host time 10
    playback.played({{20.0, 21.0, -10}});
    EXPECT_EQ(playback.spans(never), (Spans{{7.0, 8.0, -10}, {20.0, 21.0, -10}}));
}

}  // namespace
}  // namespace parlaro
