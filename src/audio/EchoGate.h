#pragma once

#include "audio/FarEndActivity.h"

#include <cstddef>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace parlaro {

// Decides which 10 ms windows of microphone audio are far-end echo. It
// subtracts nothing. From the microphone's own level and the far-end levels
// it learns whether far-end sound reaches the microphone, after which delay
// (lag) and how much louder or quieter (gain); it then calls a window echo
// when the far end, delayed and scaled that way, would be loud enough to open
// the microphone. Until it has learned anything, every window near far-end
// activity is echo.
//
// A value owned by the echo guard, which serialises every call. All times are
// host clock seconds.
class EchoGate {
public:
    struct Config {
        double evidenceDB = -35;  // far end at least this loud counts as active
        std::vector<double> lags = defaultLags();
        double memorySeconds = 5;
        double staleSeconds = 120;
        double fitNeedsSeconds = 2;
        double refitEverySeconds = 0.25;
        double minLikeness = 0.65;
        double loudestFarEndDB = -6;
        double refuteBelowDB = 10;
        double refuteWindowSeconds = 2;
        double floorQuantile = 0.1;
        double tailSeconds = 0.2;  // reverberation after the lagged window
        double coldReleaseSeconds = 0.7;
        double micOpenDB = -35;
        double headroomDB = 3;
        double deadMicDB = -80;

        // k x 0.02 s for k = 0...25.
        static std::vector<double> defaultLags();
    };

    // How far-end sound reaches the microphone, as far as the gate knows.
    struct Route {
        enum class Kind { echo, unknown, none };

        Kind kind = Kind::unknown;
        double lag = 0;     // echo only
        double gainDB = 0;  // echo only

        static Route echo(double lag, double gainDB) { return Route{Kind::echo, lag, gainDB}; }
        static Route unknown() { return Route{}; }
        static Route none() { return Route{Kind::none, 0, 0}; }

        bool operator==(const Route&) const = default;
    };

    struct Fit {
        double lag;
        double likeness;  // correlation of microphone and far-end levels
        double gainDB;    // median of microphone minus far end
        double floorDB;   // the floor quantile of the same differences

        bool operator==(const Fit&) const = default;
    };

    // One 10 ms microphone window during far-end activity.
    struct Evidence {
        double start;
        double end;
        double micDB;
        // Per entry of the lags: the loudest far end in the window moved
        // back by that lag.
        std::vector<double> farEnd;
    };

    EchoGate() = default;
    explicit EchoGate(Config settings) : config(std::move(settings)) {}

    Config config;
    Route route;
    std::optional<Fit> lastFit;
    std::vector<Evidence> evidence;  // oldest first
    double lastRefit = -std::numeric_limits<double>::infinity();
    bool evidenceGrew = false;

    // Keeps the window as evidence when the microphone is alive, the far end
    // is known through the window's end and was active at one lag at least.
    // Takes the far-end record's lock.
    void addEvidence(double start, double end, double micDB, const FarEndActivity& farEnd);
    // Prunes, fits and moves the route.
    void refit(double now);
    // Drops old evidence, in batches of 65 entries or more.
    void prune(double now);
    // The best lag over the newest `within` seconds of evidence per lag; none
    // unless every lag has enough.
    std::optional<Fit> fit(double within) const;
    // Whether the window (start, end) of the microphone is echo by the current
    // route. Takes the far-end record's lock.
    bool isEcho(double start, double end, const FarEndActivity& farEnd) const;

    // Pearson correlation; 0 for fewer than 2 pairs, unequal lengths or a
    // constant list.
    static double likeness(const std::vector<double>& a, const std::vector<double>& b);
    // The entry at index min(n - 1, trunc(q x n)) of an ascending list; 0 for
    // an empty one.
    static double quantile(const std::vector<double>& ascending, double q);
    // The same values as quantile() at qa and at qb of the list sorted, found
    // by selection in linear time; reorders `values`.
    static std::pair<double, double> selectQuantiles(std::vector<double>& values, double qa, double qb);

private:
    Route routeFrom(const Fit& fit) const;

    // What one lag takes from the evidence for a fit.
    struct Taking {
        std::vector<double> mic;
        std::vector<double> far;
        double taken = 0.0;
        bool done = false;
    };

    // Reused on the microphone thread, so fits and evidence do not allocate
    // once they have grown.
    std::vector<FarEndActivity::Span> scratch_;
    mutable std::vector<Taking> fitScratch_;
    mutable std::vector<double> differences_;
    mutable std::vector<Fit> candidates_;
};

}  // namespace parlaro
