#include "platform/linux/pulse/PulseTapMixer.h"

#include "audio/RealTimeCounting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace parlaro::sys {
namespace {

constexpr std::uint32_t cycleFrames = 1024;
constexpr double cycleMicros = cycleFrames * 1e6 / 48000;

// A far-end capture on virtual time: a sink plays a ramp (left = frame
// number, right = its negative) that the server hands over in fragments,
// and one loop thread runs the tap's timer and the server's deliveries, as
// the stream loop does: after a stall the timer runs first, then the sound
// that waited. Every sample the tap gives out is kept.
struct TapRun {
    PulseTapMixer mixer{cycleFrames};
    PulseTapMixer::Member* member = nullptr;
    std::uint64_t now = 5'000'000;
    std::uint64_t begun = now;
    std::uint64_t wake = 0;
    // The sink's clock against ours, and how it hands its sound over.
    double sinkSpeed = 1.0;
    std::uint64_t fragment = 1024;
    std::uint64_t serverLate = 0;  // µs the server holds each fragment back
    bool sinkPlays = true;
    std::uint64_t played = 0;  // frames the sink played
    std::uint64_t handed = 0;  // frames the server handed over
    std::vector<float> left;
    std::vector<float> right;
    std::vector<std::uint64_t> stamps;
    std::vector<double> sampleTimes;
    std::vector<float> fragmentData;

    TapRun()
    {
        member = &mixer.join();
        mixer.start(now);
        wake = mixer.wakeMicros();
    }

    // As the tap does on its timer and after each delivery: a few cycles
    // at a time, then back to the loop.
    void pump()
    {
        int burst = 0;
        while (burst < 8 && mixer.pull(now)) {
            ++burst;
            const auto mix = mixer.mix();
            for (std::size_t i = 0; i < mix.size(); i += 2) {
                left.push_back(mix[i]);
                right.push_back(mix[i + 1]);
            }
            stamps.push_back(mixer.startMicros());
            sampleTimes.push_back(mixer.sampleTime());
        }
        wake = burst == 8 ? now : mixer.wakeMicros();
    }

    void dispatch()
    {
        if (now >= wake)
            pump();
        if (!sinkPlays)
            return;
        const double heardMicros = static_cast<double>(now - std::min(now - begun, serverLate) - begun);
        const auto ready = static_cast<std::uint64_t>(heardMicros * 1e-6 * 48000 * sinkSpeed);
        while (ready >= handed + fragment) {
            fragmentData.resize(fragment * 2);
            for (std::uint64_t i = 0; i < fragment; ++i) {
                fragmentData[2 * i] = static_cast<float>(handed + i + 1);
                fragmentData[2 * i + 1] = -static_cast<float>(handed + i + 1);
            }
            mixer.write(*member, fragmentData.data(), fragmentData.size());
            handed += fragment;
            pump();
        }
    }

    // Runs the loop for `micros`, a pass every millisecond.
    void run(std::uint64_t micros)
    {
        for (const std::uint64_t end = now + micros; now < end; now += 1000)
            dispatch();
    }
    // The process does not run at all for `micros`.
    void stall(std::uint64_t micros) { now += micros; }

    // Cycles the clock owes by now.
    std::uint64_t cyclesDue() const
    {
        return static_cast<std::uint64_t>(static_cast<double>(now - begun) / cycleMicros);
    }
};

// The ramp's frames, in the order they came out, must run 1, 2, 3, ... from
// the first sound on, with nothing lost, repeated or torn apart (right is the
// negative of left); silence before the first sound and after the last.
::testing::AssertionResult everyFrameInOrder(const TapRun& run, std::uint64_t firstExpected = 1)
{
    std::size_t i = 0;
    while (i < run.left.size() && run.left[i] == 0.0f)
        ++i;
    std::uint64_t expected = firstExpected;
    for (; i < run.left.size() && run.left[i] != 0.0f; ++i, ++expected) {
        if (run.left[i] != static_cast<float>(expected) || run.right[i] != -run.left[i])
            return ::testing::AssertionFailure()
                << "frame " << i << " of the output holds " << run.left[i] << " where " << expected << " belongs";
    }
    for (; i < run.left.size(); ++i)
        if (run.left[i] != 0.0f)
            return ::testing::AssertionFailure()
                << "frame " << i << " holds " << run.left[i] << " after a gap, after " << expected - 1;
    return ::testing::AssertionSuccess() << expected - firstExpected << " frames in order";
}

TEST(PulseTapMixerTest, ALateProcessLosesNoSoundAndCatchesUp)
{
    // The load that garbled speech: the loop thread stalls again and again
    // for 40 to 150 ms, with the timer and the server's sound both waiting.
    TapRun run;
    for (std::uint64_t stall : {150'000, 40'000, 120'000, 90'000, 150'000, 60'000, 130'000, 150'000}) {
        run.run(700'000);
        run.stall(stall);
    }
    run.run(700'000);

    EXPECT_TRUE(everyFrameInOrder(run));
    EXPECT_GT(run.handed, 48000u * 6);
    EXPECT_EQ(run.mixer.droppedFrames(), 0u);
    EXPECT_EQ(run.mixer.skippedFrames(), 0u);
    // The clock caught up: as many cycles went out as time allows, and the
    // sound waiting in the ring is back to what a couple of cycles explain.
    EXPECT_NEAR(static_cast<double>(run.stamps.size()), static_cast<double>(run.cyclesDue()), 1.0);
    EXPECT_LE(run.member->available(), 3u * cycleFrames * 2);
    // Each cycle is stamped with when its sound played, a cycle apart, also
    // for those that went out back to back after a stall.
    for (std::size_t i = 1; i < run.stamps.size(); ++i) {
        ASSERT_NEAR(static_cast<double>(run.stamps[i] - run.stamps[i - 1]), cycleMicros, 1.0) << "cycle " << i;
        ASSERT_EQ(run.sampleTimes[i], run.sampleTimes[i - 1] + cycleFrames);
    }
}

TEST(PulseTapMixerTest, SoundThatComesLateOrInBurstsPlaysWithoutGaps)
{
    // The server hands over four cycles at a time, and for a while holds
    // each burst back by a further 60 ms while our clock keeps time.
    TapRun run;
    run.fragment = 4 * cycleFrames;
    run.run(1'000'000);
    run.serverLate = 60'000;
    run.run(1'000'000);
    run.serverLate = 0;
    run.run(1'000'000);
    EXPECT_TRUE(everyFrameInOrder(run));
    EXPECT_GT(run.handed, 48000u * 2);
    EXPECT_NEAR(static_cast<double>(run.stamps.size()), static_cast<double>(run.cyclesDue()), 6.0);

    // When the stream stops, what it played comes out in full and silence
    // follows, a cycle at a time, after a wait of at most a few cycles.
    run.sinkPlays = false;
    const std::uint64_t stopped = run.handed;
    run.run(500'000);
    EXPECT_TRUE(everyFrameInOrder(run));
    const auto last = std::find_if(run.left.rbegin(), run.left.rend(), [](float sample) { return sample != 0.0f; });
    ASSERT_NE(last, run.left.rend());
    EXPECT_EQ(*last, static_cast<float>(stopped));
    EXPECT_NEAR(static_cast<double>(run.stamps.size()), static_cast<double>(run.cyclesDue()), 1.0);
}

TEST(PulseTapMixerTest, BacklogStaysBoundedAndBeyondTheBoundTheOldestGoesCounted)
{
    // A sink whose clock runs 1 % fast: cycles go out early instead of the
    // backlog growing, and nothing is lost.
    TapRun run;
    run.sinkSpeed = 1.01;
    std::size_t most = 0;
    for (int i = 0; i < 100; ++i) {
        run.run(50'000);
        most = std::max(most, run.member->available());
    }
    EXPECT_TRUE(everyFrameInOrder(run));
    EXPECT_LE(most, (PulseTapMixer::highCycles + 2) * cycleFrames * 2);
    EXPECT_EQ(run.mixer.droppedFrames(), 0u);

    for (std::size_t i = 1; i < run.stamps.size(); ++i)
        ASSERT_GE(run.stamps[i], run.stamps[i - 1]);
    EXPECT_LE(run.stamps.back(), run.now);

    // Sound handed over faster than cycles go: the ring keeps the newest
    // second, and what came before it is counted, not played.
    PulseTapMixer mixer(cycleFrames);
    mixer.start(0);
    auto& member = mixer.join();
    std::vector<float> sound(2 * 48000 * 3 / 2);
    for (std::size_t i = 0; i < sound.size(); ++i)
        sound[i] = static_cast<float>(i / 2 + 1);
    mixer.write(member, sound.data(), sound.size());
    EXPECT_EQ(mixer.droppedFrames(), 24000u);
    ASSERT_TRUE(mixer.pull(mixer.wakeMicros()));
    EXPECT_EQ(mixer.mix()[0], 24001.0f);
    EXPECT_EQ(mixer.mix().back(), 24000.0f + cycleFrames);

    // A long stall while nothing plays: the silence owed beyond a second is
    // skipped, and the sample time steps over it.
    TapRun quiet;
    quiet.sinkPlays = false;
    quiet.run(100'000);
    const std::size_t before = quiet.stamps.size();
    quiet.stall(5'000'000);
    quiet.dispatch();
    quiet.run(1'100'000);
    const double skipped = static_cast<double>(quiet.mixer.skippedFrames());
    EXPECT_NEAR(skipped, 4.0 * 48000, cycleFrames);
    EXPECT_NEAR(static_cast<double>(quiet.stamps.size()),
                static_cast<double>(quiet.cyclesDue()) - skipped / cycleFrames, 1.0);
    EXPECT_EQ(quiet.sampleTimes[before + 1] - quiet.sampleTimes[before], cycleFrames);
    const auto jump = std::adjacent_find(quiet.sampleTimes.begin(), quiet.sampleTimes.end(),
                                         [](double a, double b) { return b != a + cycleFrames; });
    ASSERT_NE(jump, quiet.sampleTimes.end());
    EXPECT_EQ(jump[1] - jump[0] - cycleFrames, skipped);
    const std::size_t at = static_cast<std::size_t>(jump - quiet.sampleTimes.begin());
    EXPECT_NEAR(static_cast<double>(quiet.stamps[at + 1] - quiet.stamps[at]) * 48000 / 1e6, jump[1] - jump[0], 1.0);
}

TEST(PulseTapMixerTest, MembersMixAndSilenceKeepsComing)
{
    PulseTapMixer mixer(4);
    mixer.start(0);
    // Nothing plays: a cycle of silence falls due every 4 frames' time.
    std::uint64_t now = 0;
    int cycles = 0;
    for (; now < 1000; ++now)
        while (mixer.pull(now)) {
            ++cycles;
            for (float sample : mixer.mix())
                EXPECT_EQ(sample, 0.0f);
        }
    EXPECT_EQ(cycles, 11);

    auto& one = mixer.join();
    auto& two = mixer.join();
    const std::vector<float> ones(16, 1.0f);
    const std::vector<float> halves(16, 0.5f);
    mixer.write(one, ones.data(), ones.size());
    mixer.write(two, halves.data(), halves.size());
    ASSERT_TRUE(mixer.pull(now));
    for (float sample : mixer.mix())
        EXPECT_EQ(sample, 1.5f);
    mixer.leave(one);
    EXPECT_EQ(mixer.memberCount(), 1u);
    now = mixer.wakeMicros();
    ASSERT_TRUE(mixer.pull(now));
    for (float sample : mixer.mix())
        EXPECT_EQ(sample, 0.5f);
}

// The cycle runs on the sound server's loop thread: once its members have
// joined, handing sound over and pulling cycles never touch the heap or a
// lock, whichever way a cycle goes out.
TEST(PulseTapMixerTest, TheCycleNeitherAllocatesNorLocks)
{
    PulseTapMixer mixer(cycleFrames);
    auto& member = mixer.join();
    mixer.start(0);
    const std::vector<float> twoSeconds(2 * 48000 * 2, 0.25f);
    std::uint64_t now = 0;
    int onTime = 0;
    int early = 0;
    int held = 0;
    const auto onTheClock = [&] {
        now = mixer.wakeMicros();
        if (mixer.pull(now))
            ++onTime;
        else
            ++held;
    };
    test::resetCounts();
    {
        test::CountingScope counting;
        // Silence, then more sound than the ring keeps (a hole in it
        // included): the oldest is dropped.
        onTheClock();
        mixer.write(member, twoSeconds.data(), twoSeconds.size());
        mixer.write(member, nullptr, 2 * cycleFrames);
        // The backlog goes out early, then the rest on time until a cycle
        // waits for more sound, and goes out short when none comes.
        onTheClock();
        while (mixer.pull(now))
            ++early;
        while (held == 0)
            onTheClock();
        onTheClock();
        // A long stall with nothing playing: the silence owed is skipped.
        now += 5'000'000;
        if (mixer.pull(now))
            ++onTime;
    }
    EXPECT_EQ(test::countsInside(), test::RealTimeCounts{});
    EXPECT_GT(mixer.droppedFrames(), 0u);
    EXPECT_GT(mixer.skippedFrames(), 0u);
    EXPECT_GT(early, 0);
    EXPECT_EQ(held, 1);
    EXPECT_GT(onTime, 3);
}

}  // namespace
}  // namespace parlaro::sys
