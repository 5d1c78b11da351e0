#pragma once

#include <cmath>
#include <compare>
#include <cstdint>

namespace parlaro::rt {

// A reading of the continuous clock: whole nanoseconds that keep counting
// while the machine sleeps. Whole numbers make chained waits exact: a wait of
// 0.5 s and then one of 1.05 s ends on the same instant as one of 1.55 s.
// Differences are plain double seconds; a duration added to an instant is
// rounded once, to the nearest nanosecond.
struct Instant {
    std::int64_t nanoseconds = 0;

    static Instant fromSeconds(double seconds) { return Instant{toNanoseconds(seconds)}; }
    // Durations beyond about 30 years (an endless wait given as infinity)
    // are held there, and NaN counts as no time, so sums never overflow.
    static std::int64_t toNanoseconds(double seconds)
    {
        constexpr double limit = 1e18;
        const double nanoseconds = seconds * 1e9;
        if (!(nanoseconds == nanoseconds))
            return 0;
        return std::llround(nanoseconds < -limit ? -limit : nanoseconds > limit ? limit : nanoseconds);
    }

    double seconds() const { return static_cast<double>(nanoseconds) / 1e9; }

    friend Instant operator+(Instant a, double s) { return Instant{a.nanoseconds + toNanoseconds(s)}; }
    friend Instant operator-(Instant a, double s) { return Instant{a.nanoseconds - toNanoseconds(s)}; }
    friend double operator-(Instant a, Instant b) { return static_cast<double>(a.nanoseconds - b.nanoseconds) / 1e9; }
    friend auto operator<=>(Instant a, Instant b) = default;
};

// A wall-clock date as seconds since 2001-01-01 00:00:00 UTC, the epoch the
// history files store.
struct Date {
    static constexpr double unixOffset = 978307200.0;

    double sinceReferenceDate = 0.0;

    static Date fromUnix(double unixSeconds) { return Date{unixSeconds - unixOffset}; }
    double unixTime() const { return sinceReferenceDate + unixOffset; }

    friend Date operator+(Date a, double s) { return Date{a.sinceReferenceDate + s}; }
    friend double operator-(Date a, Date b) { return a.sinceReferenceDate - b.sinceReferenceDate; }
    friend auto operator<=>(Date a, Date b) = default;
};

}  // namespace parlaro::rt
