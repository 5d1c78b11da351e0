// The gate's quick paths against the plain ways of getting the same answers,
// on seeded random input.

#include "audio/EchoGate.h"
#include "audio/EchoGuard.h"
#include "runtime/ManualRuntime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

namespace parlaro {
namespace {

using Route = EchoGate::Route;
using Span = FarEndActivity::Span;

TEST(EchoGateEquivalence, SelectedQuantilesAreTheSortedOnes)
{
    std::mt19937 random(7);
    const double qs[] = {0.0, 0.1, 0.5, 0.9, 0.999, 1.0, 1.5, -0.2, std::numeric_limits<double>::quiet_NaN()};
    for (int round = 0; round < 400; ++round) {
        std::vector<double> values(random() % 300);
        // Few distinct values in some rounds, so ties are common.
        const unsigned spread = round % 3 == 0 ? 5 : 100000;
        for (double& v : values)
            v = static_cast<double>(random() % spread) / 7.0 - 40.0;
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        for (double qa : qs) {
            const double qb = qs[random() % std::size(qs)];
            std::vector<double> scratch = values;
            const auto [a, b] = EchoGate::selectQuantiles(scratch, qa, qb);
            EXPECT_EQ(a, EchoGate::quantile(sorted, qa)) << values.size() << " " << qa;
            EXPECT_EQ(b, EchoGate::quantile(sorted, qb)) << values.size() << " " << qb;
        }
    }
}

// The fit as the gate first did it: each lag walks the evidence on its own
// and sorts its differences.
std::optional<EchoGate::Fit> plainFit(const EchoGate& gate, double within)
{
    const auto& config = gate.config;
    if (config.lags.empty())
        return std::nullopt;
    std::vector<EchoGate::Fit> candidates;
    for (std::size_t lag = 0; lag < config.lags.size(); ++lag) {
        std::vector<double> mic;
        std::vector<double> far;
        double taken = 0.0;
        for (auto it = gate.evidence.rbegin(); it != gate.evidence.rend(); ++it) {
            if (lag >= it->farEnd.size() || it->farEnd[lag] < config.evidenceDB)
                continue;
            if (taken >= within)
                break;
            mic.push_back(it->micDB);
            far.push_back(it->farEnd[lag]);
            taken += it->end - it->start;
        }
        if (taken < std::min(within, config.fitNeedsSeconds))
            return std::nullopt;
        std::vector<double> differences;
        for (std::size_t i = 0; i < mic.size(); ++i)
            differences.push_back(mic[i] - far[i]);
        std::sort(differences.begin(), differences.end());
        candidates.push_back(EchoGate::Fit{config.lags[lag], EchoGate::likeness(mic, far),
                                           EchoGate::quantile(differences, 0.5),
                                           EchoGate::quantile(differences, config.floorQuantile)});
    }
    double best = -std::numeric_limits<double>::infinity();
    for (const auto& candidate : candidates)
        best = std::max(best, candidate.likeness);
    const EchoGate::Fit* chosen = nullptr;
    for (const auto& candidate : candidates) {
        if (candidate.likeness >= best - 0.02 && (!chosen || candidate.lag < chosen->lag))
            chosen = &candidate;
    }
    return *chosen;
}

// How many entries the plain pruning walk leaves.
std::size_t plainPrunedSize(const EchoGate& gate, double now)
{
    const auto& config = gate.config;
    std::vector<double> perLag(config.lags.size(), 0.0);
    double overall = 0.0;
    for (std::size_t i = gate.evidence.size(); i-- > 0;) {
        const auto& entry = gate.evidence[i];
        const bool full = !perLag.empty()
            && std::all_of(perLag.begin(), perLag.end(), [&](double t) { return t >= config.memorySeconds; });
        if (full || overall >= 3 * config.memorySeconds || entry.end < now - config.staleSeconds)
            return i + 1 >= 65 ? gate.evidence.size() - i - 1 : gate.evidence.size();
        for (std::size_t lag = 0; lag < perLag.size() && lag < entry.farEnd.size(); ++lag) {
            if (entry.farEnd[lag] >= config.evidenceDB)
                perLag[lag] += entry.end - entry.start;
        }
        overall += entry.end - entry.start;
    }
    return gate.evidence.size();
}

TEST(EchoGateEquivalence, FitsAndPruningMatchThePlainWalks)
{
    int fits = 0;
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::mt19937 random(seed);
        EchoGate gate;
        if (seed % 4 == 0)
            gate.config.lags = {0.0, 0.05, 0.1};
        const std::size_t lags = gate.config.lags.size();
        const std::size_t count = 100 + random() % 1800;
        // The far end is active at a lag in runs, so lags fill at different
        // rates; the microphone follows one lag in some seeds.
        const std::size_t followed = random() % lags;
        double t = 5000.0;
        for (std::size_t i = 0; i < count; ++i) {
            const double d = (random() % 5 == 0) ? 0.0025 + 0.0001 * (random() % 50) : 0.01;
            std::vector<double> far(random() % 40 == 0 ? random() % lags : lags);
            for (std::size_t lag = 0; lag < far.size(); ++lag) {
                const bool active = (i / (3 + lag)) % 3 != 0 || random() % 7 == 0;
                far[lag] = active ? -34.0 + static_cast<double>(random() % 300) / 10.0 : -60.0 + random() % 20;
            }
            const double mic = seed % 2 && followed < far.size() ? far[followed] - 20.0 + (random() % 30) / 10.0
                                                                 : -70.0 + static_cast<double>(random() % 500) / 10.0;
            gate.evidence.push_back(EchoGate::Evidence{t, t + d, mic, far});
            t += d;
        }
        for (double within : {5.0, 2.0, 0.7}) {
            const auto expected = plainFit(gate, within);
            EXPECT_EQ(gate.fit(within), expected) << seed << " " << within;
            fits += expected.has_value();
        }
        for (double now : {t, t + 110.0, t + 300.0}) {
            EchoGate pruned = gate;
            pruned.prune(now);
            EXPECT_EQ(pruned.evidence.size(), plainPrunedSize(gate, now)) << seed << " " << now;
        }
    }
    // Not a vacuous comparison: most seeds have enough evidence to fit.
    EXPECT_GT(fits, 40);
}

// A call: the far end talks in bursts; the microphone hears it 0.1 s late and
// 20 dB down and the user speaks now and then. The guard gets the microphone
// either in one buffer per stretch or cut at random, and must decide alike.
struct CallStretch {
    static constexpr double rate = 48000;
    double origin;
    std::size_t frames;
};

std::vector<Span> farEndOf(std::mt19937& random, double from, double to)
{
    std::vector<Span> spans;
    bool talking = false;
    double level = -20.0;
    for (double t = from; t < to; t += 0.01) {
        // Talking four fifths of the time, in stretches of about 0.6 s, its
        // loudness changing every few windows.
        if (random() % (talking ? 60 : 15) == 0)
            talking = !talking;
        if (random() % 6 == 0)
            level = -30.0 + static_cast<double>(random() % 250) / 10.0;
        spans.push_back(Span{t, t + 0.01, talking ? level : -120.0});
    }
    return spans;
}

// The far end's amplitude at t; the spans are 0.01 s each from the first.
float farLevelAt(const std::vector<Span>& spans, double t)
{
    const double at = std::floor((t - spans.front().start) / 0.01);
    if (at < 0 || at >= static_cast<double>(spans.size()))
        return 0.0f;
    const double level = spans[static_cast<std::size_t>(at)].levelDB;
    return level <= -120.0 ? 0.0f : static_cast<float>(std::pow(10.0, level / 20.0));
}

TEST(EchoGateEquivalence, TheGuardDecidesAlikeHoweverTheMicrophoneIsCut)
{
    rt::ManualRuntime runtime;
    int compared = 0;
    int zeroed = 0;
    for (unsigned seed = 1; seed <= 4; ++seed) {
        std::mt19937 random(seed);
        const bool stereo = seed % 2 == 0;
        const AudioFormat format{48000, stereo ? 2u : 1u, SampleType::float32, stereo};
        const double origin = 3000.0;
        // Two stretches of whole windows with a gap between them.
        const std::vector<CallStretch> stretches{{origin, 480 * 220}, {origin + 2.5, 480 * 230}};
        const auto farEnd = farEndOf(random, origin - 0.7, origin + 5.0);
        auto makeRecord = [&] {
            auto record = std::make_shared<FarEndActivity>();
            record->heard(farEnd, farEnd.back().end);
            return record;
        };

        // The microphone of each stretch, channel 0 then channel 1.
        std::vector<std::vector<float>> mic;
        bool speaking = false;
        for (const CallStretch& stretch : stretches) {
            std::vector<float> samples(stretch.frames * format.channelCount);
            for (std::size_t f = 0; f < stretch.frames; ++f) {
                const double t = stretch.origin + static_cast<double>(f) / CallStretch::rate;
                if (f % 480 == 0 && random() % (speaking ? 20 : 20) == 0)
                    speaking = !speaking;
                const float echo = 0.1f * farLevelAt(farEnd, t - 0.1);
                const float noise = 0.0005f * static_cast<float>(static_cast<int>(random() % 200) - 100) / 100.0f;
                // The user waits for the far end to fall silent.
                const bool heard = speaking && echo == 0.0f;
                const float user = heard ? 0.2f * static_cast<float>(std::sin(0.07 * static_cast<double>(f))) : 0.0f;
                for (std::uint32_t c = 0; c < format.channelCount; ++c)
                    samples[f * format.channelCount + c] = echo + noise + user + 0.01f * static_cast<float>(c);
            }
            mic.push_back(std::move(samples));
        }
        auto bufferOf = [&](std::size_t stretch, std::size_t from, std::size_t frames) {
            PcmBuffer buffer(format, frames);
            buffer.setFrameLength(frames);
            std::copy_n(mic[stretch].begin() + static_cast<std::ptrdiff_t>(from * format.channelCount),
                        frames * format.channelCount, buffer.floatChannelData(0));
            return buffer;
        };
        auto append = [&](std::vector<float>& out, const EchoGuard::Buffers& released) {
            for (const auto& buffer : released) {
                const float* data = buffer->floatChannelData(0);
                out.insert(out.end(), data, data + buffer->frameLength() * format.channelCount);
            }
        };

        EchoGuard whole(makeRecord());
        std::vector<float> plain;
        for (std::size_t s = 0; s < stretches.size(); ++s)
            append(plain, whole.push(bufferOf(s, 0, stretches[s].frames), stretches[s].origin, origin + 100.0));
        append(plain, whole.flush());

        // Cut at random; a window that straddles two buffers has its first
        // part decided before the refit its end may bring, so it may differ
        // only where the route moved in the push that finished it.
        EchoGuard cut(makeRecord());
        std::vector<float> split;
        std::vector<bool> mayDiffer;
        for (std::size_t s = 0; s < stretches.size(); ++s) {
            std::vector<bool> differs(stretches[s].frames / 480, false);
            for (std::size_t at = 0; at < stretches[s].frames;) {
                const std::size_t n = std::min<std::size_t>(stretches[s].frames - at, 1 + random() % 2000);
                const Route before = cut.route();
                append(split,
                       cut.push(bufferOf(s, at, n), stretches[s].origin + static_cast<double>(at) / 48000,
                                origin + 100.0));
                if (cut.route() != before && at % 480 != 0)
                    differs[at / 480] = true;
                at += n;
            }
            mayDiffer.insert(mayDiffer.end(), differs.begin(), differs.end());
        }
        append(split, cut.flush());

        ASSERT_EQ(split.size(), plain.size());
        EXPECT_EQ(cut.route(), whole.route()) << seed;
        EXPECT_EQ(cut.lastFit(), whole.lastFit()) << seed;
        EXPECT_TRUE(whole.lastFit()) << seed;
        const std::size_t windowSamples = 480 * format.channelCount;
        for (std::size_t w = 0; w < mayDiffer.size(); ++w) {
            if (mayDiffer[w])
                continue;
            const auto from = plain.begin() + static_cast<std::ptrdiff_t>(w * windowSamples);
            const auto to = from + static_cast<std::ptrdiff_t>(windowSamples);
            EXPECT_TRUE(std::equal(from, to, split.begin() + static_cast<std::ptrdiff_t>(w * windowSamples)))
                << seed << " window " << w;
            ++compared;
            zeroed += *from == 0.0f && *(to - 1) == 0.0f;
        }
    }
    // Both kinds of window were seen.
    EXPECT_GT(zeroed, 100);
    EXPECT_GT(compared - zeroed, 50);
}

}  // namespace
}  // namespace parlaro
