#pragma once

#include <compare>

namespace parlaro::rt {

// A reading of the continuous clock: seconds that keep counting while the
// machine sleeps. Differences are plain double seconds.
struct Instant {
    double seconds = 0.0;

    friend Instant operator+(Instant a, double s) { return Instant{a.seconds + s}; }
    friend Instant operator-(Instant a, double s) { return Instant{a.seconds - s}; }
    friend double operator-(Instant a, Instant b) { return a.seconds - b.seconds; }
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

} // namespace parlaro::rt
