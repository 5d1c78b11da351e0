#include "audio/FarEndActivity.h"
#include "audio/MicWindows.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace parlaro {
namespace {

constexpr double rate = 48000;
constexpr std::size_t window = 480;

struct Piece {
    std::size_t frame;  // in the stream
    std::size_t count;
    double windowStart;
    double windowEnd;
};

struct Cut {
    std::vector<MicWindows::Window> learned;
    std::vector<Piece> pieces;
};

// Feeds one buffer of `samples` (a stretch of the stream from `first`).
void feed(MicWindows& windows, Cut& cut, const std::vector<float>& samples, std::size_t first, std::size_t frames,
          double start)
{
    windows.cut(
        samples.data() + first, frames, 1, rate, window, start,
        [&](const MicWindows::Window& w) { cut.learned.push_back(w); },
        [&](std::size_t offset, std::size_t count, double from, double to) {
            cut.pieces.push_back(Piece{first + offset, count, from, to});
        });
}

// A stream cut buffer by buffer is measured exactly as the same stream in one
// buffer: the same windows with the same times and levels, bit for bit.
TEST(MicWindows, AStreamInBuffersIsMeasuredAsInOnePiece)
{
    for (unsigned seed = 1; seed <= 6; ++seed) {
        std::mt19937 random(seed);
        std::uniform_real_distribution<float> sample(-0.5f, 0.5f);
        const std::size_t frames = 20000 + random() % 20000;
        std::vector<float> samples(frames);
        for (float& s : samples)
            s = sample(random) * static_cast<float>(random() % 4);
        const double origin = 1000.0 + seed;

        MicWindows whole;
        Cut plain;
        feed(whole, plain, samples, 0, frames, origin);
        if (auto last = whole.close())
            plain.learned.push_back(*last);

        MicWindows parts;
        Cut split;
        for (std::size_t at = 0; at < frames;) {
            const std::size_t n = std::min<std::size_t>(frames - at, 1 + random() % (seed % 2 ? 700 : 3000));
            feed(parts, split, samples, at, n, origin + static_cast<double>(at) / rate);
            at += n;
        }
        if (auto last = parts.close())
            split.learned.push_back(*last);

        ASSERT_EQ(split.learned.size(), plain.learned.size()) << seed;
        for (std::size_t i = 0; i < plain.learned.size(); ++i) {
            EXPECT_EQ(split.learned[i].start, plain.learned[i].start) << seed << " " << i;
            EXPECT_EQ(split.learned[i].end, plain.learned[i].end) << seed << " " << i;
            EXPECT_EQ(split.learned[i].micDB, plain.learned[i].micDB) << seed << " " << i;
        }
        // The pieces cover the stream once, in order, each inside the window
        // that the plain cut gives its frames.
        std::size_t next = 0;
        for (const Piece& piece : split.pieces) {
            ASSERT_EQ(piece.frame, next);
            next += piece.count;
            const std::size_t w = piece.frame / window;
            ASSERT_EQ((piece.frame + piece.count - 1) / window, w);
            EXPECT_EQ(piece.windowStart, plain.pieces[w].windowStart);
            // A window still open when its piece is decided counts at full
            // length; only the stream's last one is shorter.
            if (w + 1 < plain.pieces.size())
                EXPECT_EQ(piece.windowEnd, plain.pieces[w].windowEnd);
        }
        EXPECT_EQ(next, frames);
    }
}

TEST(MicWindows, ABreakInTheStreamClosesTheOpenWindow)
{
    const std::vector<float> samples(2048, 0.1f);
    MicWindows windows;
    Cut cut;
    feed(windows, cut, samples, 0, 512, 10.0);
    ASSERT_EQ(cut.learned.size(), 1u);
    EXPECT_EQ(cut.learned[0].start, 10.0);
    EXPECT_EQ(cut.learned[0].end, 10.0 + 480 / rate);
    EXPECT_NEAR(cut.learned[0].micDB, -20.0, 1e-6);
    // The 32 frames left over are decided as part of a whole window.
    EXPECT_EQ(cut.pieces.back().windowStart, 10.0 + 480 / rate);
    EXPECT_EQ(cut.pieces.back().windowEnd, 10.0 + 960 / rate);

    // Up to a quarter of a window late still continues the stream, on the
    // stream's own times.
    feed(windows, cut, samples, 0, 512, 10.0 + 512 / rate + 0.002);
    ASSERT_EQ(cut.learned.size(), 2u);
    EXPECT_EQ(cut.learned[1].start, 10.0 + 480 / rate);
    EXPECT_EQ(cut.learned[1].end, 10.0 + 960 / rate);

    // A buffer that starts elsewhere ends the open window where its frames
    // end and starts a new stream at its own time.
    feed(windows, cut, samples, 0, 512, 20.0);
    ASSERT_EQ(cut.learned.size(), 4u);
    EXPECT_EQ(cut.learned[2].start, 10.0 + 960 / rate);
    EXPECT_EQ(cut.learned[2].end, 10.0 + 1024 / rate);
    EXPECT_NEAR(cut.learned[2].micDB, -20.0, 1e-6);
    EXPECT_EQ(cut.learned[3].start, 20.0);

    // So does another rate, and the end of the stream.
    windows.cut(
        samples.data(), 100, 1, 16000, 160, 20.0 + 512 / rate,
        [&](const MicWindows::Window& w) { cut.learned.push_back(w); },
        [](std::size_t, std::size_t, double, double) {});
    ASSERT_EQ(cut.learned.size(), 5u);
    EXPECT_DOUBLE_EQ(cut.learned[4].end, 20.0 + 512 / rate);
    const auto last = windows.close();
    ASSERT_TRUE(last);
    EXPECT_EQ(last->start, 20.0 + 512 / rate);
    EXPECT_EQ(last->end, 20.0 + 512 / rate + 100 / 16000.0);
    EXPECT_FALSE(windows.close());
}

}  // namespace
}  // namespace parlaro
