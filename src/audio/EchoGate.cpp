#include "audio/EchoGate.h"

#include <algorithm>
#include <cmath>

namespace parlaro {

namespace {

constexpr double floorDB = -120.0;
// Pruning waits for this many stale entries, so the list moves rarely.
constexpr std::size_t pruneBatch = 65;

double duration(const EchoGate::Evidence& entry)
{
    return entry.end - entry.start;
}

// Where quantile q of n values sits: min(n - 1, trunc(q x n)); n > 0.
std::size_t quantileIndex(std::size_t n, double q)
{
    const double count = static_cast<double>(n);
    const double at = std::trunc(q * count);
    // Guards the cast: a NaN or negative quantile takes the first entry.
    if (at >= count - 1)
        return n - 1;
    if (at > 0)
        return static_cast<std::size_t>(at);
    return 0;
}

}  // namespace

std::vector<double> EchoGate::Config::defaultLags()
{
    std::vector<double> lags;
    // Multiplied rather than summed, so every lag is the nearest double to
    // k x 0.02 and a route's lag is found again by equality.
    for (int k = 0; static_cast<double>(k) * 0.02 <= 0.501; ++k)
        lags.push_back(static_cast<double>(k) * 0.02);
    return lags;
}

void EchoGate::addEvidence(double start, double end, double micDB, const FarEndActivity& farEnd)
{
    if (micDB <= config.deadMicDB)
        return;
    const double maxLag = config.lags.empty() ? 0.0 : *std::max_element(config.lags.begin(), config.lags.end());
    const double known = farEnd.spans(start - maxLag - 0.05, scratch_);
    if (end > known)
        return;

    std::vector<double> levels;
    levels.reserve(config.lags.size());
    bool active = false;
    for (double lag : config.lags) {
        const double from = start - lag;
        const double to = end - lag;
        double level = floorDB;
        for (const auto& span : scratch_) {
            if (span.start < to && from < span.end)
                level = std::max(level, span.levelDB);
        }
        active = active || level >= config.evidenceDB;
        levels.push_back(level);
    }
    if (!active)
        return;
    evidence.push_back(Evidence{start, end, micDB, std::move(levels)});
    evidenceGrew = true;
}

void EchoGate::prune(double now)
{
    const std::size_t lagCount = config.lags.size();
    std::vector<double> perLag(lagCount, 0.0);
    double overall = 0.0;
    std::optional<std::size_t> stop;
    for (std::size_t i = evidence.size(); i-- > 0;) {
        const Evidence& entry = evidence[i];
        const bool everyLagFull = lagCount == 0
            ? config.memorySeconds <= 0
            : std::all_of(perLag.begin(), perLag.end(), [&](double total) { return total >= config.memorySeconds; });
        if (everyLagFull || overall >= 3 * config.memorySeconds || entry.end < now - config.staleSeconds) {
            stop = i;
            break;
        }
        const double d = duration(entry);
        const std::size_t levels = std::min(lagCount, entry.farEnd.size());
        // Adding nothing for a quiet lag rather than branching lets this
        // loop run over all lags at once.
        for (std::size_t lag = 0; lag < levels; ++lag)
            perLag[lag] += entry.farEnd[lag] >= config.evidenceDB ? d : 0.0;
        overall += d;
    }
    if (stop && *stop + 1 >= pruneBatch)
        evidence.erase(evidence.begin(), evidence.begin() + static_cast<std::ptrdiff_t>(*stop + 1));
}

std::optional<EchoGate::Fit> EchoGate::fit(double within) const
{
    if (config.lags.empty())
        return std::nullopt;
    const double need = std::min(within, config.fitNeedsSeconds);

    // Every lag takes its newest far-active entries until it has `within`
    // seconds; one walk serves them all, reading each entry's levels once.
    const std::size_t lagCount = config.lags.size();
    std::vector<Taking>& perLag = fitScratch_;
    perLag.resize(lagCount);
    for (Taking& t : perLag) {
        t.mic.clear();
        t.far.clear();
        t.taken = 0.0;
        t.done = false;
    }
    std::size_t taking = lagCount;
    for (auto it = evidence.rbegin(); it != evidence.rend() && taking > 0; ++it) {
        const std::size_t levels = std::min(lagCount, it->farEnd.size());
        for (std::size_t lag = 0; lag < levels; ++lag) {
            Taking& t = perLag[lag];
            if (t.done || it->farEnd[lag] < config.evidenceDB)
                continue;
            if (t.taken >= within) {
                t.done = true;
                --taking;
                continue;
            }
            t.mic.push_back(it->micDB);
            t.far.push_back(it->farEnd[lag]);
            t.taken += duration(*it);
        }
    }

    std::vector<Fit>& candidates = candidates_;
    candidates.clear();
    std::vector<double>& differences = differences_;
    for (std::size_t lag = 0; lag < lagCount; ++lag) {
        const Taking& t = perLag[lag];
        if (t.taken < need)
            return std::nullopt;
        differences.clear();
        for (std::size_t i = 0; i < t.mic.size(); ++i)
            differences.push_back(t.mic[i] - t.far[i]);
        // Two ranks are wanted, not the whole order: selection, not a sort.
        const auto [gainDB, floorDB] = selectQuantiles(differences, 0.5, config.floorQuantile);
        candidates.push_back(Fit{config.lags[lag], likeness(t.mic, t.far), gainDB, floorDB});
    }

    double best = -std::numeric_limits<double>::infinity();
    for (const Fit& candidate : candidates)
        best = std::max(best, candidate.likeness);
    const Fit* chosen = nullptr;
    for (const Fit& candidate : candidates) {
        if (candidate.likeness >= best - 0.02 && (!chosen || candidate.lag < chosen->lag))
            chosen = &candidate;
    }
    return *chosen;
}

EchoGate::Route EchoGate::routeFrom(const Fit& fit) const
{
    const double open = config.micOpenDB - config.headroomDB;
    // Even the loudest far end could not open the microphone: nothing to gate.
    if (config.loudestFarEndDB + fit.gainDB >= open)
        return Route::echo(fit.lag, fit.gainDB);
    return Route::none();
}

void EchoGate::refit(double now)
{
    const double open = config.micOpenDB - config.headroomDB;
    prune(now);
    const auto full = fit(config.memorySeconds);
    if (!full)
        return;
    lastFit = full;
    if (full->likeness >= config.minLikeness) {
        route = routeFrom(*full);
        return;
    }

    switch (route.kind) {
    case Route::Kind::none:
        return;
    case Route::Kind::unknown:
        if (config.loudestFarEndDB + full->floorDB < open)
            route = Route::none();
        return;
    case Route::Kind::echo:
        break;
    }

    if (const auto quick = fit(config.refuteWindowSeconds); quick && quick->likeness >= config.minLikeness) {
        route = routeFrom(*quick);
        return;
    }

    // Refutation: did the microphone stay well below the echo this route
    // predicts over the newest far-active evidence?
    const auto found = std::find(config.lags.begin(), config.lags.end(), route.lag);
    if (found == config.lags.end())
        return;
    const auto lag = static_cast<std::size_t>(found - config.lags.begin());
    double covered = 0.0;
    double refuted = 0.0;
    for (auto it = evidence.rbegin(); it != evidence.rend(); ++it) {
        if (lag >= it->farEnd.size() || it->farEnd[lag] < config.evidenceDB)
            continue;
        if (covered >= config.refuteWindowSeconds)
            break;
        const double d = duration(*it);
        covered += d;
        if (it->micDB < it->farEnd[lag] + route.gainDB - config.refuteBelowDB)
            refuted += d;
    }
    if (covered < 1.0 || refuted / covered < 0.6)
        return;
    route = Route::none();
}

bool EchoGate::isEcho(double start, double end, const FarEndActivity& farEnd) const
{
    switch (route.kind) {
    case Route::Kind::none:
        return false;
    case Route::Kind::unknown: {
        // An unknown far end counts as silence here.
        const double far = farEnd.level(start - config.coldReleaseSeconds, end).value_or(floorDB);
        return far >= config.evidenceDB;
    }
    case Route::Kind::echo: {
        const double far = farEnd.level(start - route.lag - config.tailSeconds, end).value_or(floorDB);
        return far + route.gainDB >= config.micOpenDB - config.headroomDB;
    }
    }
    return false;
}

double EchoGate::likeness(const std::vector<double>& a, const std::vector<double>& b)
{
    if (a.size() < 2 || a.size() != b.size())
        return 0.0;
    const double n = static_cast<double>(a.size());
    double ma = 0.0;
    double mb = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        ma += a[i];
        mb += b[i];
    }
    ma /= n;
    mb /= n;
    double sxy = 0.0;
    double sxx = 0.0;
    double syy = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double da = a[i] - ma;
        const double db = b[i] - mb;
        sxy += da * db;
        sxx += da * da;
        syy += db * db;
    }
    if (!(sxx > 1e-9 && syy > 1e-9))
        return 0.0;
    return sxy / std::sqrt(sxx * syy);
}

double EchoGate::quantile(const std::vector<double>& ascending, double q)
{
    if (ascending.empty())
        return 0.0;
    return ascending[quantileIndex(ascending.size(), q)];
}

std::pair<double, double> EchoGate::selectQuantiles(std::vector<double>& values, double qa, double qb)
{
    if (values.empty())
        return {0.0, 0.0};
    const std::size_t a = quantileIndex(values.size(), qa);
    const std::size_t b = quantileIndex(values.size(), qb);
    const auto higher = values.begin() + static_cast<std::ptrdiff_t>(std::max(a, b));
    std::nth_element(values.begin(), higher, values.end());
    // Everything before the higher rank is now below it, so the lower rank
    // is found among those alone.
    if (a != b)
        std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(std::min(a, b)), higher);
    return {values[a], values[b]};
}

}  // namespace parlaro
