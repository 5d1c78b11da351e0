#include "speech/SpeechPause.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace parlaro {
namespace {

constexpr double window = 0.01;

// Feeds `count` windows at one level; returns the 1-based numbers of the
// windows that ended a sentence.
std::vector<int> feed(SpeechPause& pause, double levelDB, int count)
{
    std::vector<int> ends;
    for (int n = 1; n <= count; ++n) {
        if (pause.feed(levelDB, window))
            ends.push_back(n);
    }
    return ends;
}

bool inSilence(const SpeechPause& pause)
{
    return std::holds_alternative<SpeechPause::Silence>(pause.state());
}

TEST(SpeechPause, SteadySpeechEndsAfterFifteenSeconds)
{
    SpeechPause pause;
    EXPECT_TRUE(inSilence(pause));
    EXPECT_EQ(pause.floorDB(), -70.0);

    EXPECT_FALSE(pause.feed(-40, window));
    EXPECT_TRUE(std::holds_alternative<SpeechPause::Onset>(pause.state()));
    EXPECT_EQ(feed(pause, -40, 6), std::vector<int>{});
    EXPECT_TRUE(std::holds_alternative<SpeechPause::Onset>(pause.state())) << "window 7";
    EXPECT_FALSE(pause.feed(-40, window));
    ASSERT_TRUE(std::holds_alternative<SpeechPause::Speech>(pause.state())) << "window 8";
    // Only the first (silent) window moved the floor.
    EXPECT_DOUBLE_EQ(pause.floorDB(), -70.0 + 30.0 * 0.002);

    // Windows 9 to 1500 keep going; the 1501st reaches 15 s.
    EXPECT_EQ(feed(pause, -40, 1492), std::vector<int>{});
    EXPECT_TRUE(std::holds_alternative<SpeechPause::Speech>(pause.state()));
    EXPECT_TRUE(pause.feed(-40, window));
    EXPECT_TRUE(inSilence(pause));
    // Reported once: the next sentence needs a new onset.
    EXPECT_FALSE(pause.feed(-40, window));
    EXPECT_TRUE(std::holds_alternative<SpeechPause::Onset>(pause.state()));
}

TEST(SpeechPause, PausesEndSentencesOnlyAfterEnoughSpeech)
{
    // 1 s of speech, then quiet: the 50th quiet window makes 0.5 s.
    SpeechPause sentence;
    EXPECT_EQ(feed(sentence, -40, 100), std::vector<int>{});
    EXPECT_EQ(feed(sentence, -70, 49), std::vector<int>{});
    EXPECT_TRUE(std::holds_alternative<SpeechPause::Hangover>(sentence.state()));
    EXPECT_TRUE(sentence.feed(-70, window));
    EXPECT_TRUE(inSilence(sentence));

    // 0.2 s is a click or a cough: through speech and hangover back to
    // silence without a report.
    SpeechPause cough;
    EXPECT_EQ(feed(cough, -40, 20), std::vector<int>{});
    EXPECT_TRUE(std::holds_alternative<SpeechPause::Speech>(cough.state()));
    EXPECT_EQ(feed(cough, -70, 49), std::vector<int>{});
    EXPECT_TRUE(std::holds_alternative<SpeechPause::Hangover>(cough.state()));
    EXPECT_FALSE(cough.feed(-70, window));
    EXPECT_TRUE(inSilence(cough));

    // A 0.3 s pause followed by speech counts into the speech time.
    SpeechPause resumed;
    EXPECT_EQ(feed(resumed, -40, 100), std::vector<int>{});
    EXPECT_EQ(feed(resumed, -70, 30), std::vector<int>{});
    EXPECT_FALSE(resumed.feed(-40, window));
    ASSERT_TRUE(std::holds_alternative<SpeechPause::Speech>(resumed.state()));
    EXPECT_NEAR(std::get<SpeechPause::Speech>(resumed.state()).speech, 1.31, 1e-9);
    // So the 15 s limit comes as if the pause had been speech: 1501 windows
    // after the first, as for steady speech.
    EXPECT_EQ(feed(resumed, -40, 1400), std::vector<int>{1501 - 131});
}

TEST(SpeechPause, ThresholdsAroundTheNoiseFloor)
{
    // Fresh floor -70: threshold -45, quiet below -51.
    SpeechPause fresh;
    EXPECT_FALSE(fresh.feed(-45.01, window));
    EXPECT_TRUE(inSilence(fresh));
    EXPECT_FALSE(fresh.feed(-45, window));
    EXPECT_TRUE(std::holds_alternative<SpeechPause::Onset>(fresh.state()));

    SpeechPause talking;
    feed(talking, -40, 10);
    // -48 keeps speech going (above -51) ...
    EXPECT_FALSE(talking.feed(-48, window));
    EXPECT_TRUE(std::holds_alternative<SpeechPause::Speech>(talking.state()));
    EXPECT_FALSE(talking.feed(-51, window));
    EXPECT_TRUE(std::holds_alternative<SpeechPause::Speech>(talking.state()));
    EXPECT_FALSE(talking.feed(-51.01, window));
    ASSERT_TRUE(std::holds_alternative<SpeechPause::Hangover>(talking.state()));
    // ... but in a pause it does not resume speech (below -45): it is quiet.
    EXPECT_FALSE(talking.feed(-48, window));
    ASSERT_TRUE(std::holds_alternative<SpeechPause::Hangover>(talking.state()));
    EXPECT_NEAR(std::get<SpeechPause::Hangover>(talking.state()).quiet, 0.02, 1e-12);
    // The floor never moves in speech or hangover.
    EXPECT_DOUBLE_EQ(talking.floorDB(), -70.0 + 30.0 * 0.002);

    // Digital silence never moves the floor; anything louder does.
    SpeechPause digital;
    feed(digital, -120, 50);
    feed(digital, -119, 50);
    EXPECT_EQ(digital.floorDB(), -70.0);
    digital.feed(-118, window);
    EXPECT_DOUBLE_EQ(digital.floorDB(), -70.0 + (-118.0 + 70.0) * 0.25);

    // A floor pulled down to -100 still leaves the threshold at -45.
    SpeechPause low;
    feed(low, -110, 200);
    EXPECT_EQ(low.floorDB(), -100.0);
    EXPECT_FALSE(low.feed(-45.01, window));
    EXPECT_TRUE(inSilence(low));
    EXPECT_FALSE(low.feed(-45, window));
    EXPECT_TRUE(std::holds_alternative<SpeechPause::Onset>(low.state()));
    // An onset that falls back to silence moves the floor too.
    const double before = low.floorDB();
    EXPECT_FALSE(low.feed(-60, window));
    EXPECT_TRUE(inSilence(low));
    EXPECT_DOUBLE_EQ(low.floorDB(), before + (-60.0 - before) * 0.002);

    // A noisy room lifts the floor slowly until the threshold stops at -33;
    // a window at -30 always starts an onset.
    SpeechPause noisy;
    for (int n = 0; n < 20000; ++n) {
        const double threshold = std::clamp(noisy.floorDB() + 10.0, -45.0, -33.0);
        noisy.feed(threshold - 0.5, window);
        ASSERT_TRUE(inSilence(noisy));
    }
    EXPECT_GT(noisy.floorDB(), -34.0);
    EXPECT_FALSE(noisy.feed(-33.01, window));
    EXPECT_TRUE(inSilence(noisy));
    EXPECT_FALSE(noisy.feed(-30, window));
    EXPECT_TRUE(std::holds_alternative<SpeechPause::Onset>(noisy.state()));
}

}  // namespace
}  // namespace parlaro
