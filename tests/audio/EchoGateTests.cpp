#include "audio/EchoGate.h"
#include "audio/EchoGuard.h"
#include "runtime/ManualRuntime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numeric>

namespace parlaro {
namespace {

using Route = EchoGate::Route;
using Span = FarEndActivity::Span;

// Evidence windows of a quarter second: their durations add up exactly.
constexpr double step = 0.25;

EchoGate::Config threeLags()
{
    EchoGate::Config config;
    config.lags = {0.0, 0.1, 0.2};
    return config;
}

// A deterministic level sequence between -30 and -5 dB.
double wobble(int i)
{
    std::uint32_t x = static_cast<std::uint32_t>(i) * 2654435761u;
    x ^= x >> 13;
    return -30.0 + static_cast<double>(x % 2501) / 100.0;
}

void addEntry(EchoGate& gate, int i, double micDB, std::vector<double> far)
{
    const double start = 1000.0 + i * step;
    gate.evidence.push_back(EchoGate::Evidence{start, start + step, micDB, std::move(far)});
}

TEST(EchoGate, QuantilesLikenessAndLags)
{
    const auto lags = EchoGate::Config::defaultLags();
    ASSERT_EQ(lags.size(), 26u);
    EXPECT_EQ(lags.front(), 0.0);
    EXPECT_DOUBLE_EQ(lags.back(), 0.5);
    EXPECT_EQ(lags[5], 5 * 0.02);

    std::vector<double> values(200);
    std::iota(values.begin(), values.end(), 0.0);
    EXPECT_EQ(EchoGate::quantile(values, 0.5), 100.0);
    EXPECT_EQ(EchoGate::quantile(values, 0.1), 20.0);
    EXPECT_EQ(EchoGate::quantile(values, 1.0), 199.0);
    EXPECT_EQ(EchoGate::quantile(values, 0.0), 0.0);
    EXPECT_EQ(EchoGate::quantile({}, 0.5), 0.0);

    EXPECT_NEAR(EchoGate::likeness({1, 2, 3}, {2, 4, 6}), 1.0, 1e-12);
    EXPECT_NEAR(EchoGate::likeness({1, 2, 3}, {6, 4, 2}), -1.0, 1e-12);
    EXPECT_EQ(EchoGate::likeness({1, 2, 3}, {5, 5, 5}), 0.0);
    EXPECT_EQ(EchoGate::likeness({1}, {1}), 0.0);
    EXPECT_EQ(EchoGate::likeness({1, 2, 3}, {1, 2}), 0.0);
}

TEST(EchoGate, FittingNeedsEvidenceAtEveryLagAndPrefersTheSmallerOfCloseLags)
{
    // The microphone follows the far end 0.1 s later, 20 dB quieter. Lag 0
    // hears nothing loud enough after the first seven entries.
    EchoGate gate(threeLags());
    for (int i = 0; i < 20; ++i) {
        const double far = wobble(i);
        addEntry(gate, i, far - 20, {i < 7 ? far : -60.0, far, wobble(i + 50)});
    }
    // 1.75 s at lag 0 (entries 0-6) is short of the 2 s a fit needs.
    EXPECT_EQ(gate.fit(5.0), std::nullopt);
    // A shorter window needs less.
    ASSERT_TRUE(gate.fit(1.5));

    addEntry(gate, 20, wobble(20) - 20, {-20.0, wobble(20), wobble(70)});
    const auto fit = gate.fit(5.0);
    ASSERT_TRUE(fit);
    EXPECT_EQ(fit->lag, 0.1);
    EXPECT_NEAR(fit->likeness, 1.0, 1e-9);
    EXPECT_NEAR(fit->gainDB, -20.0, 1e-9);
    EXPECT_NEAR(fit->floorDB, -20.0, 1e-9);

    // Lag 0.2 as good as 0.1, lag 0 within 0.02 of both: the smallest wins.
    EchoGate close(threeLags());
    for (int i = 0; i < 20; ++i) {
        const double far = wobble(i);
        const double nudge = (i % 4 == 0) ? 0.9 : 0.0;
        addEntry(close, i, far - 20, {far + nudge, far, far});
    }
    const auto closeFit = close.fit(5.0);
    ASSERT_TRUE(closeFit);
    EXPECT_GE(closeFit->likeness, 0.98);
    EXPECT_EQ(closeFit->lag, 0.0);
}

TEST(EchoGate, RefitMovesTheRoute)
{
    // A good fit with a gain at which the far end opens the microphone.
    EchoGate learning(threeLags());
    for (int i = 0; i < 20; ++i)
        addEntry(learning, i, wobble(i) - 20, {wobble(i + 30), wobble(i), wobble(i + 60)});
    learning.refit(1005.0);
    EXPECT_EQ(learning.route.kind, Route::Kind::echo);
    EXPECT_EQ(learning.route.lag, 0.1);
    EXPECT_NEAR(learning.route.gainDB, -20.0, 1e-9);
    ASSERT_TRUE(learning.lastFit);
    EXPECT_EQ(learning.lastFit->lag, 0.1);

    // Below -32 dB of gain even the loudest far end (-6) stays under -38.
    EchoGate quiet(threeLags());
    for (int i = 0; i < 20; ++i)
        addEntry(quiet, i, wobble(i) - 40, {wobble(i + 30), wobble(i), wobble(i + 60)});
    quiet.refit(1005.0);
    EXPECT_EQ(quiet.route, Route::none());

    // A poor fit decides only when even its floor could not open the
    // microphone; otherwise the gate stays cold.
    EchoGate unrelatedQuiet(threeLags());
    EchoGate unrelatedLoud(threeLags());
    for (int i = 0; i < 20; ++i) {
        addEntry(unrelatedQuiet, i, -75 + 5 * (i % 2), {wobble(i), wobble(i + 1), wobble(i + 2)});
        addEntry(unrelatedLoud, i, -25 + 5 * (i % 2), {wobble(i), wobble(i + 1), wobble(i + 2)});
    }
    unrelatedQuiet.refit(1005.0);
    unrelatedLoud.refit(1005.0);
    EXPECT_LT(unrelatedQuiet.lastFit->likeness, 0.65);
    EXPECT_EQ(unrelatedQuiet.route, Route::none());
    EXPECT_EQ(unrelatedLoud.route, Route::unknown());

    // Not enough evidence: nothing changes.
    EchoGate young(threeLags());
    young.route = Route::echo(0.2, -10);
    for (int i = 0; i < 7; ++i)
        addEntry(young, i, -70, {wobble(i), wobble(i), wobble(i)});
    young.refit(1005.0);
    EXPECT_EQ(young.route, Route::echo(0.2, -10));
    EXPECT_EQ(young.lastFit, std::nullopt);

    // An echo route whose prediction the microphone keeps falling short of
    // by more than 10 dB is refuted; a microphone that matches it is not.
    EchoGate refuted(threeLags());
    EchoGate kept(threeLags());
    refuted.route = kept.route = Route::echo(0.1, -10);
    for (int i = 0; i < 20; ++i) {
        const double mic = -60 + 5 * (i % 3);
        addEntry(refuted, i, mic, {wobble(i), wobble(i + 1), wobble(i + 2)});
        addEntry(kept, i, wobble(i + 1) - 10 + 5 * (i % 3), {wobble(i), wobble(i + 7), wobble(i + 2)});
    }
    refuted.refit(1005.0);
    kept.refit(1005.0);
    EXPECT_EQ(refuted.route, Route::none());
    EXPECT_EQ(kept.route, Route::echo(0.1, -10));

    // Refutation needs a second of far-active evidence at the route's lag,
    // however clearly the microphone stays below the prediction.
    EchoGate thin(threeLags());
    thin.route = Route::echo(0.2, -10);
    const double falling[] = {-10.0, -20.0, -30.0};
    for (int i = 0; i < 20; ++i)
        addEntry(thin, i, -70, {wobble(i), wobble(i + 1), i < 3 ? falling[i] : -50.0});
    thin.config.fitNeedsSeconds = 0.5;
    thin.refit(1005.0);
    EXPECT_EQ(thin.route, Route::echo(0.2, -10));
}

TEST(EchoGate, PruningDropsOldEvidenceInBatches)
{
    EchoGate::Config config;
    config.lags = {0.0};
    // 100 entries of 0.25 s: the newest 20 hold 5 s, the other 80 go.
    EchoGate full(config);
    for (int i = 0; i < 100; ++i)
        addEntry(full, i, -30, {-20});
    full.prune(1030.0);
    ASSERT_EQ(full.evidence.size(), 20u);
    EXPECT_EQ(full.evidence.front().start, 1000.0 + 80 * step);

    // 60 beyond what is wanted are fewer than a batch: they stay for now.
    EchoGate small(config);
    for (int i = 0; i < 80; ++i)
        addEntry(small, i, -30, {-20});
    small.prune(1030.0);
    EXPECT_EQ(small.evidence.size(), 80u);

    // Evidence older than two minutes goes whatever the totals say; far-idle
    // entries count towards the overall total only.
    EchoGate stale(config);
    for (int i = 0; i < 70; ++i)
        addEntry(stale, i, -30, {-60});
    for (int i = 0; i < 5; ++i)
        addEntry(stale, 1000 + i, -30, {-20});
    stale.prune(1000.0 + 70 * step + 120.1);
    EXPECT_EQ(stale.evidence.size(), 5u);

    EchoGate idle(config);
    for (int i = 0; i < 130; ++i)
        addEntry(idle, i, -30, {-60});
    idle.prune(1040.0);
    EXPECT_EQ(idle.evidence.size(), 60u);  // 15 s overall
}

TEST(EchoGate, RoutesDecideWhichWindowsAreEcho)
{
    rt::ManualRuntime runtime;
    FarEndActivity record;
    record.heard({{9.75, 9.76, -18.0}}, 9.76);

    EchoGate gate;
    gate.route = Route::echo(0.1, -20);
    // The far end counts from 0.3 s (lag and tail) before the window.
    EXPECT_TRUE(gate.isEcho(10.0, 10.01, record));
    EXPECT_FALSE(gate.isEcho(10.07, 10.08, record));

    FarEndActivity softer;
    softer.heard({{9.75, 9.76, -19.0}}, 9.76);
    EXPECT_FALSE(gate.isEcho(10.0, 10.01, softer));

    gate.route = Route::none();
    EXPECT_FALSE(gate.isEcho(9.75, 9.76, record));

    // Cold: 0.7 s after far-end sound of -35 dB or more.
    gate.route = Route::unknown();
    EXPECT_TRUE(gate.isEcho(10.4, 10.41, record));
    EXPECT_FALSE(gate.isEcho(10.5, 10.51, record));
    FarEndActivity faint;
    faint.heard({{9.75, 9.76, -36.0}}, 9.76);
    EXPECT_FALSE(gate.isEcho(10.0, 10.01, faint));
}

TEST(EchoGate, EvidenceComesFromLiveMicrophoneWindowsTheFarEndCovers)
{
    rt::ManualRuntime runtime;
    FarEndActivity record;
    record.tapStarted();
    // Loud from 9.9 to 9.92, faint from 10.0 to 10.01.
    record.heard({{9.9, 9.92, -20.0}, {9.92, 10.0, -60.0}, {10.0, 10.01, -50.0}}, 10.01);

    EchoGate gate(threeLags());
    // The far end is known only through 10.01: a window ending later waits.
    gate.addEvidence(10.0, 10.02, -30, record);
    EXPECT_TRUE(gate.evidence.empty());
    // A dead microphone proves nothing.
    gate.addEvidence(10.0, 10.01, -80, record);
    EXPECT_TRUE(gate.evidence.empty());
    EXPECT_FALSE(gate.evidenceGrew);
    // A window with the far end quiet at every lag is not kept either.
    gate.addEvidence(9.95, 9.96, -30, record);
    EXPECT_TRUE(gate.evidence.empty());

    // Just above the dead level it counts; each lag looks at the window
    // moved back by it: lag 0 sees the faint span, 0.1 the loud one, 0.2
    // nothing at all.
    gate.addEvidence(10.0, 10.01, -79.9, record);
    ASSERT_EQ(gate.evidence.size(), 1u);
    EXPECT_TRUE(gate.evidenceGrew);
    EXPECT_EQ(gate.evidence[0].micDB, -79.9);
    EXPECT_EQ(gate.evidence[0].farEnd, (std::vector<double>{-50.0, -20.0, -120.0}));

    // With the capture stopped the far end is known for all time.
    record.tapStopped();
    gate.addEvidence(10.01, 10.02, -30, record);
    ASSERT_EQ(gate.evidence.size(), 2u);
    EXPECT_EQ(gate.evidence[1].farEnd[1], -20.0);
}

// The guard.

const AudioFormat mono{48000, 1, SampleType::float32, false};

PcmBuffer constant(const AudioFormat& format, std::size_t frames, float value)
{
    PcmBuffer buffer(format, frames);
    buffer.setFrameLength(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        for (std::uint32_t c = 0; c < format.channelCount; ++c)
            buffer.setFloatSample(f, c, value);
    }
    return buffer;
}

float sampleAt(const PcmBuffer& buffer, double seconds, std::uint32_t channel = 0)
{
    return buffer.floatSample(static_cast<std::size_t>(seconds * buffer.format().sampleRate), channel);
}

TEST(EchoGuard, HoldsEachBufferUntilTheFarEndCoversIt)
{
    rt::ManualRuntime runtime;
    auto record = std::make_shared<FarEndActivity>();
    EchoGuard guard(record);

    // No capture running: the far end is known for all time.
    const PcmBuffer first = constant(mono, 4096, 0.1f);
    auto released = guard.push(first, 100.0, 100.2);
    ASSERT_EQ(released.size(), 1u);
    EXPECT_NE(released[0].get(), &first);
    EXPECT_EQ(released[0]->frameLength(), 4096u);
    EXPECT_EQ(released[0]->frameCapacity(), 4096u);
    EXPECT_EQ(released[0]->floatSample(4095, 0), 0.1f);

    // A running capture that has not reported past a buffer's end holds it,
    // and every later one behind it.
    record->tapStarted();
    EXPECT_TRUE(guard.push(constant(mono, 480, 0.2f), 101.0, 101.01).empty());
    EXPECT_TRUE(guard.push(constant(mono, 480, 0.3f), 101.01, 101.02).empty());
    record->heard({{100.0, 101.005, -100.0}}, 101.005);
    EXPECT_TRUE(guard.push(constant(mono, 480, 0.4f), 101.02, 101.03).empty());
    record->heard({{101.005, 101.015, -100.0}}, 101.015);
    released = guard.push(constant(mono, 480, 0.5f), 101.03, 101.04);
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(released[0]->floatSample(0, 0), 0.2f);
    EXPECT_EQ(guard.waitingCount(), 3u);

    // One second past its end a buffer goes anyway, in order.
    EXPECT_TRUE(guard.push(constant(mono, 480, 0.6f), 101.04, 101.02 + 0.999).empty());
    released = guard.push(constant(mono, 480, 0.7f), 101.05, 101.02 + 1.001);
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(released[0]->floatSample(0, 0), 0.3f);

    // Without a start the buffer ends now.
    released = guard.push(constant(mono, 480, 0.8f), std::nullopt, 200.0);
    ASSERT_EQ(released.size(), 4u);
    EXPECT_EQ(released[3]->floatSample(0, 0), 0.7f);
    EXPECT_EQ(guard.waitingCount(), 1u);

    // Nothing to copy, nothing kept.
    EXPECT_TRUE(guard.push(PcmBuffer(mono, 480), 300.0, 300.0).empty());
    EXPECT_EQ(guard.waitingCount(), 1u);

    // Discarded buffers are never released; flushed ones all are.
    guard.discardWaiting();
    EXPECT_TRUE(guard.flush().empty());
    guard.push(constant(mono, 480, 0.2f), 400.0, 400.0);
    guard.push(constant(mono, 480, 0.3f), 400.01, 400.01);
    released = guard.flush();
    ASSERT_EQ(released.size(), 2u);
    EXPECT_EQ(released[0]->floatSample(0, 0), 0.2f);
    EXPECT_EQ(released[1]->floatSample(0, 0), 0.3f);
    EXPECT_EQ(guard.waitingCount(), 0u);
}

TEST(EchoGuard, TheColdGateMutesWindowsNearFarEndSound)
{
    rt::ManualRuntime runtime;
    auto record = std::make_shared<FarEndActivity>();
    record->heard({{10.0, 10.01, -30.0}}, 10.01);
    EchoGuard guard(record);

    // Stereo, interleaved: the windows within 0.7 s of the far end are
    // silenced on both channels; the caller's buffer keeps its samples.
    const AudioFormat stereo{48000, 2, SampleType::float32, true};
    const PcmBuffer mic = constant(stereo, 24000, 0.1f);  // 10.5 to 11.0
    auto released = guard.push(mic, 10.5, 11.0);
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(sampleAt(*released[0], 0.0, 0), 0.0f);
    EXPECT_EQ(sampleAt(*released[0], 0.15, 1), 0.0f);
    EXPECT_EQ(sampleAt(*released[0], 0.25, 0), 0.1f);
    EXPECT_EQ(sampleAt(*released[0], 0.25, 1), 0.1f);
    EXPECT_EQ(sampleAt(mic, 0.0, 0), 0.1f);

    // Non-interleaved channels are silenced one by one.
    const AudioFormat planar{48000, 2, SampleType::float32, false};
    released = guard.push(constant(planar, 4800, 0.1f), 10.6, 11.0);
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(sampleAt(*released[0], 0.05, 0), 0.0f);
    EXPECT_EQ(sampleAt(*released[0], 0.05, 1), 0.0f);

    // 16-bit audio is not gated at all.
    const AudioFormat int16{48000, 1, SampleType::int16, false};
    released = guard.push(constant(int16, 480, 0.5f), 10.5, 11.0);
    ASSERT_EQ(released.size(), 1u);
    EXPECT_NEAR(released[0]->floatSample(0, 0), 0.5f, 1e-4);

    // A far end not yet known counts as silence, even where playback was:
    // the buffer waits its second and then goes ungated.
    auto running = std::make_shared<FarEndActivity>();
    running->tapStarted();
    running->heard({{9.0, 10.0, -100.0}}, 10.0);
    running->played({{10.2, 10.3, -10.0}});
    EchoGuard waiting(running);
    EXPECT_TRUE(waiting.push(constant(mono, 480, 0.1f), 10.75, 11.0).empty());
    released = waiting.push(constant(mono, 480, 0.1f), 10.76, 11.765);
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(released[0]->floatSample(0, 0), 0.1f);

    // After a reset the waiting buffer is still there; flushing it passes it
    // through the cold gate.
    running->tapStopped();
    EchoGuard later(running);
    running->tapStarted();
    later.push(constant(mono, 480, 0.1f), 10.5, 10.6);
    later.reset();
    EXPECT_EQ(later.waitingCount(), 1u);
    running->tapStopped();
    released = later.flush();
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(released[0]->floatSample(0, 0), 0.0f);
}

// The microphone hears the far end 0.1 s late and 20 dB down; the user speaks
// only while the far end is quiet.
TEST(EchoGuard, LearnsTheEchoPathThenMutesEchoAndKeepsSpeech)
{
    rt::ManualRuntime runtime;
    auto record = std::make_shared<FarEndActivity>();
    EchoGuard guard(record);
    const double origin = 5000.0;
    auto farLevel = [](int block) { return block < 0 ? -120.0 : wobble(block); };

    auto feedBlock = [&](int block) {
        std::vector<Span> spans;
        const double start = origin + block * 0.1;
        for (int w = 0; w < 10; ++w)
            spans.push_back(Span{start + w * 0.01, start + (w + 1) * 0.01, farLevel(block)});
        record->heard(spans, spans.back().end);
    };
    auto echoBlock = [&](int block) {
        return constant(mono, 4800, static_cast<float>(std::pow(10.0, (farLevel(block - 1) - 20) / 20)));
    };

    EXPECT_EQ(guard.route(), Route::unknown());
    int block = 0;
    for (; block < 40; ++block) {
        feedBlock(block);
        guard.push(echoBlock(block), origin + block * 0.1, origin + (block + 1) * 0.1);
    }
    const Route learned = guard.route();
    ASSERT_EQ(learned.kind, Route::Kind::echo);
    EXPECT_NEAR(learned.lag, 0.1, 1e-9);
    EXPECT_NEAR(learned.gainDB, -20.0, 0.5);

    // Echo of a loud far-end block is silenced after the path is learned.
    int loud = block;
    while (farLevel(loud - 1) < -12)
        feedBlock(loud++);
    feedBlock(loud);
    auto released = guard.push(echoBlock(loud), origin + loud * 0.1, origin + (loud + 1) * 0.1);
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(sampleAt(*released[0], 0.05), 0.0f);

    // Speech after half a second of far-end silence goes through untouched.
    std::vector<Span> silence;
    const double quietStart = origin + (loud + 1) * 0.1;
    for (int w = 0; w < 100; ++w)
        silence.push_back(Span{quietStart + w * 0.01, quietStart + (w + 1) * 0.01, -120.0});
    record->heard(silence, silence.back().end);
    released = guard.push(constant(mono, 4800, 0.3f), quietStart + 0.5, quietStart + 0.6);
    ASSERT_EQ(released.size(), 1u);
    for (double at : {0.0, 0.03, 0.05, 0.099})
        EXPECT_EQ(sampleAt(*released[0], at), 0.3f) << at;
    EXPECT_EQ(guard.route().kind, Route::Kind::echo);

    // A new monitor output: the gate starts cold again.
    guard.reset();
    EXPECT_EQ(guard.route(), Route::unknown());
    EXPECT_EQ(guard.lastFit(), std::nullopt);
}

TEST(EchoGuard, AStoppedCaptureReleasesAtOnceAndGatesOnWhatIsStillHeld)
{
    rt::ManualRuntime runtime;
    auto record = std::make_shared<FarEndActivity>();
    record->tapStarted();
    record->heard({{9.0, 9.5, -100.0}, {9.5, 9.51, -20.0}}, 9.51);
    record->tapStopped();
    record->played({{10.5, 10.6, -10.0}});
    EchoGuard guard(record);

    // Heard before the capture stopped: muted for 0.7 s after it.
    auto released = guard.push(constant(mono, 4800, 0.1f), 10.15, 10.25);
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(sampleAt(*released[0], 0.0), 0.0f);
    EXPECT_EQ(sampleAt(*released[0], 0.08), 0.1f);

    // The program's own playback, the same.
    released = guard.push(constant(mono, 4800, 0.1f), 11.0, 11.1);
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(sampleAt(*released[0], 0.05), 0.0f);
    released = guard.push(constant(mono, 4800, 0.1f), 11.35, 11.45);
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(sampleAt(*released[0], 0.05), 0.1f);
    EXPECT_EQ(guard.waitingCount(), 0u);
}

// Interleaved stereo: the gate learns from the first channel only. Its echo
// there is learned whatever the second holds; a silent first channel gives no
// evidence at all, however loud the second.
TEST(EchoGuard, LearnsFromTheFirstChannel)
{
    rt::ManualRuntime runtime;
    const AudioFormat stereo{48000, 2, SampleType::float32, true};
    const double origin = 7000.0;
    auto farLevel = [](int block) { return block < 0 ? -120.0 : wobble(block); };

    auto learn = [&](bool echoOnFirst) {
        auto record = std::make_shared<FarEndActivity>();
        auto guard = std::make_shared<EchoGuard>(record);
        for (int block = 0; block < 40; ++block) {
            std::vector<Span> spans;
            const double start = origin + block * 0.1;
            for (int w = 0; w < 10; ++w)
                spans.push_back(Span{start + w * 0.01, start + (w + 1) * 0.01, farLevel(block)});
            record->heard(spans, spans.back().end);
            const auto echo = static_cast<float>(std::pow(10.0, (farLevel(block - 1) - 20) / 20));
            PcmBuffer mic(stereo, 4800);
            mic.setFrameLength(4800);
            for (std::size_t f = 0; f < 4800; ++f) {
                mic.setFloatSample(f, 0, echoOnFirst ? echo : 0.0f);
                mic.setFloatSample(f, 1, echoOnFirst ? 0.5f : echo);
            }
            guard->push(mic, start, start + 0.1);
        }
        return guard;
    };

    const auto first = learn(true);
    ASSERT_EQ(first->route().kind, Route::Kind::echo);
    EXPECT_NEAR(first->route().lag, 0.1, 1e-9);
    EXPECT_NEAR(first->route().gainDB, -20.0, 0.5);

    const auto second = learn(false);
    EXPECT_EQ(second->route(), Route::unknown());
    EXPECT_EQ(second->lastFit(), std::nullopt);
}

}  // namespace
}  // namespace parlaro
