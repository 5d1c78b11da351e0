// The far-end record's lookups against a plain reading of every span it
// holds, on seeded random histories: in order as the tap reports them, and
// with spans out of order, which the record must notice.

#include "audio/FarEndActivity.h"
#include "runtime/ManualRuntime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <random>

namespace parlaro {
namespace {

using Span = FarEndActivity::Span;

// What the record should hold: every span given, pruned by the same rule.
struct Mirror {
    std::vector<Span> heard;
    std::vector<Span> played;
    double known = -std::numeric_limits<double>::infinity();

    void hear(const std::vector<Span>& spans)
    {
        heard.insert(heard.end(), spans.begin(), spans.end());
        known = std::max(known, spans.back().end);
        const double cut = known - 5.0;
        if (!heard.empty() && heard.front().end < cut - 1.0)
            std::erase_if(heard, [cut](const Span& span) { return span.end < cut; });
    }

    double level(double from, double to) const
    {
        double loudest = -120.0;
        for (const auto* list : {&heard, &played}) {
            for (const Span& span : *list) {
                if (span.start < to && from < span.end)
                    loudest = std::max(loudest, span.levelDB);
            }
        }
        return loudest;
    }

    std::vector<Span> after(double time) const
    {
        std::vector<Span> result;
        for (const auto* list : {&heard, &played}) {
            for (const Span& span : *list) {
                if (span.end > time)
                    result.push_back(span);
            }
        }
        std::stable_sort(result.begin(), result.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
        return result;
    }
};

TEST(FarEndLookup, LevelsAndSpansMatchAPlainReadingOfEverySpan)
{
    rt::ManualRuntime runtime;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    int known = 0;
    for (unsigned seed = 1; seed <= 6; ++seed) {
        std::mt19937 random(seed);
        FarEndActivity record;
        Mirror mirror;
        record.tapStarted();
        // Seeds up to 3 keep the tap's order throughout; the others break it
        // now and then with a span inside the one before it, or (seed 6) a
        // late one.
        const bool disorder = seed > 3;
        double t = 100.0;
        for (int batch = 0; batch < 500; ++batch) {
            std::vector<Span> spans;
            const std::size_t count = 1 + random() % 8;
            for (std::size_t i = 0; i < count; ++i) {
                const double level = random() % 3 == 0 ? -120.0 : -60.0 + static_cast<double>(random() % 600) / 10.0;
                Span span{t, t + 0.01, level};
                if (disorder && random() % 60 == 0)
                    span = seed == 6 ? Span{t - 0.5, t - 0.45, level} : Span{t - 0.008, t - 0.003, level};
                spans.push_back(span);
                t += 0.01;
            }
            record.heard(spans, spans.back().end);
            mirror.hear(spans);
            if (batch % 97 == 0) {
                const std::vector<Span> played{{t - 1.0 + 0.1 * (random() % 20), t + 0.3, -15.0},
                                               {t - 0.2, t + 0.1, -70.0}};
                record.played(played);
                mirror.played.insert(mirror.played.end(), played.begin(), played.end());
                std::stable_sort(mirror.played.begin(), mirror.played.end(),
                                 [](const Span& a, const Span& b) { return a.start < b.start; });
            }
            if (batch == 350)
                record.tapStopped();

            for (int query = 0; query < 3; ++query) {
                // Anywhere in what is held, or among the newest spans.
                double from = query == 0 ? t - 0.1 + static_cast<double>(random() % 100) / 1000.0
                                         : t - 7.0 + static_cast<double>(random() % 8000) / 1000.0;
                double to = from + static_cast<double>(random() % (query == 0 ? 20 : 800)) / 1000.0 - 0.005;
                if (random() % 50 == 0)
                    (random() % 2 ? from : to) = nan;
                const std::optional<double> expected =
                    batch < 350 && mirror.known <= from ? std::nullopt : std::optional<double>(mirror.level(from, to));
                EXPECT_EQ(record.level(from, to), expected) << seed << " " << batch << " " << from << " " << to;
                known += expected.has_value();
                const double after = random() % 50 == 0 ? nan : from;
                EXPECT_EQ(record.spans(after), mirror.after(after)) << seed << " " << batch << " " << after;
            }
        }
    }
    EXPECT_GT(known, 3000);
}

}  // namespace
}  // namespace parlaro
