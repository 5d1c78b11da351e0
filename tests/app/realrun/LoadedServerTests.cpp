// Taking the default microphone and giving it back on a machine so loaded
// that the sound server applies a new default only a while after it
// acknowledged it. The test loads every core itself for its own length, and
// to make the lateness certain rather than occasional it holds the part that
// applies defaults (PipeWire's session manager, or PulseAudio's whole
// daemon) still for a moment around each switch, as a starved one would be.
// PARLARO_LOAD_ROUNDS sets how many starts and quits it makes (3 unless
// set); PARLARO_LOAD_STALL=0 leaves the load alone at work.

#include "app/ServiceFactory.h"

#include "RealRunSupport.h"

#include "audio/AudioDevices.h"
#include "audio/SystemAudioRoute.h"
#include "model/ModelTestAccess.h"
#include "platform/linux/pulse/PulseAudioSystem.h"
#include "runtime/Task.h"
#include "support/Patience.h"

#include <QCoreApplication>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>
#include <vector>

using namespace parlaro;
using test::pactl;
using test::pumpFor;
using test::pumpUntil;
namespace fs = std::filesystem;

namespace {

using test::virtualMicSource;
const char* const userMic = "test_load_mic";

// Busy threads on every core, twice over, for at most `limit` seconds.
class CpuHog {
public:
    explicit CpuHog(double limit)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(limit);
        const unsigned count = 2 * std::max(1u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < count; ++i)
            threads_.emplace_back([this, until] {
                volatile std::uint64_t spin = 0;
                while (!stop_.load(std::memory_order_relaxed) && std::chrono::steady_clock::now() < until)
                    for (int j = 0; j < 100000; ++j)
                        spin = spin + 1;
            });
    }
    ~CpuHog()
    {
        stop_ = true;
        for (auto& thread : threads_)
            thread.join();
    }
    CpuHog(const CpuHog&) = delete;
    CpuHog& operator=(const CpuHog&) = delete;

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

// The process that applies a new default: held still from construction for
// `seconds`, or until let go, then let go (at the latest when this goes).
class Stall {
public:
    Stall(pid_t pid, double seconds) : pid_(pid)
    {
        if (pid_ <= 0 || seconds <= 0)
            return;
        ::kill(pid_, SIGSTOP);
        held_ = true;
        thread_ = std::thread([this, seconds] {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return lettingGo_; });
            held_ = false;
            ::kill(pid_, SIGCONT);
        });
    }
    ~Stall() { release(); }
    Stall(const Stall&) = delete;
    Stall& operator=(const Stall&) = delete;
    // Waits out the stall.
    void release()
    {
        if (thread_.joinable())
            thread_.join();
    }
    // Ends the stall now.
    void letGo()
    {
        {
            std::lock_guard lock(mutex_);
            lettingGo_ = true;
        }
        wake_.notify_all();
        release();
    }
    // Whether the process is still held still.
    bool held() const { return held_; }

private:
    pid_t pid_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool lettingGo_ = false;
    std::atomic<bool> held_{false};
    std::thread thread_;
};

pid_t stalledProcess()
{
    const fs::path folder = test::soundServerFolder();
    std::ifstream file(test::onPipeWire() ? folder / "wireplumber.pid" : folder / "pulse" / "pid");
    long pid = 0;
    return (file >> pid) && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

int environmentNumber(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::atoi(value) : fallback;
}

std::optional<SystemAudioRoute::Snapshot> record(const sim::SimSettingsStore& defaults)
{
    return SystemAudioRoute::savedSnapshot(defaults);
}

// The recovery record a quit left, for the next start.
std::function<void(sim::SimSettingsStore&)> carryRecord(const std::optional<DefaultsData>& data)
{
    return [data](sim::SimSettingsStore& defaults) {
        if (data)
            defaults.set(SystemAudioRoute::recoveryKey, *data);
    };
}

}  // namespace

TEST(RealRunUnderLoad, TheMicrophoneIsTakenAndGivenBackWhileTheServerLagsBehind)
{
    if (const std::string missing = test::missingRealRunPart({"pactl"}); !missing.empty())
        GTEST_SKIP() << "not installed: " << missing;
    test::RealRunWorld world;
    ASSERT_TRUE(test::loadMicrophone(userMic));

    const int rounds = environmentNumber("PARLARO_LOAD_ROUNDS", 3);
    const bool stalls = environmentNumber("PARLARO_LOAD_STALL", 1) != 0;
    // Past the settling wait of a default (PipeWire) or the wait for the
    // server's answer (PulseAudio), well within the give-back's tries.
    const double stallSeconds = test::onPipeWire() ? 1.5 : 2.5;
    // Past every try of the give-back: the last quit must keep its record.
    const double longStall = SystemAudioRoute::giveBackSeconds + (test::onPipeWire() ? 2.0 : 3.0);
    const pid_t server = stalls ? stalledProcess() : 0;
    ASSERT_TRUE(!stalls || server > 0) << "no process to hold still in " << test::soundServerFolder();

    CpuHog hog(40.0 + rounds * 12.0);
    int falseFailures = 0;
    int lost = 0;
    int unguarded = 0;
    int keptForNextStart = 0;
    std::optional<DefaultsData> carried;
    for (int round = 0; round < rounds; ++round) {
        test::SpanishSpeakerProgram program(carryRecord(carried));
        const auto model = program.factory.model();
        {
            Stall stall(server, stallSeconds);
            ModelTestAccess::prepareSession(*model);
            ModelTestAccess::startWatching(*model);
        }
        const bool taken = pumpUntil(
            [&] {
                return !ModelTestAccess::systemMic(*model).pending.get()
                    && pactl({QStringLiteral("get-default-source")}) == virtualMicSource;
            },
            30);
        EXPECT_TRUE(taken) << "round " << round << ": the default input is "
                           << pactl({QStringLiteral("get-default-source")});
        // The switch happened: whatever was shown about it was false.
        if (taken && model->errorMessage.get()) {
            ++falseFailures;
            ADD_FAILURE() << "round " << round << " showed " << *model->errorMessage.get();
        }
        EXPECT_TRUE(record(program.defaults) && record(program.defaults)->routedInput == virtualMicUID)
            << "round " << round << ": the takeover is not recorded";
        model->dismissError();

        const bool last = round == rounds - 1;
        {
            Stall stall(server, last ? longStall : stallSeconds);
            model->shutdown();
        }
        const auto kept = record(program.defaults);
        if (last && stalls)
            EXPECT_TRUE(kept && kept->routedInput == virtualMicUID) << "the last quit dropped the record";
        // A record that went means the microphone was seen given back.
        if (!kept && model->errorMessage.get()) {
            ++unguarded;
            ADD_FAILURE() << "round " << round << ": the record went though the give-back said "
                          << *model->errorMessage.get();
        }
        if (kept)
            ++keptForNextStart;
        const bool back = pumpUntil([] { return pactl({QStringLiteral("get-default-source")}) == userMic; }, 10);
        if (!back && !kept) {
            ++lost;
            ADD_FAILURE() << "round " << round << ": the default input stayed "
                          << pactl({QStringLiteral("get-default-source")}) << " with no record to give it back";
        }
        const auto data = program.defaults.get<DefaultsData>(SystemAudioRoute::recoveryKey);
        carried = data ? std::optional(*data) : std::nullopt;
    }
    // A record kept at the last quit gives the microphone back at the next
    // start.
    if (carried) {
        test::SpanishSpeakerProgram next(carryRecord(carried));
        EXPECT_NO_THROW(next.factory.route()->restoreSavedRoute());
        EXPECT_TRUE(pumpUntil([] { return pactl({QStringLiteral("get-default-source")}) == userMic; }, 30));
    }
    std::cout << "[ load     ] " << rounds << " starts and quits " << (stalls ? "with" : "without")
              << " the server held still: " << falseFailures << " false failures, " << lost << " lost inputs, "
              << unguarded << " records dropped unconfirmed, " << keptForNextStart
              << " records kept for the next start\n";
    EXPECT_EQ(falseFailures, 0);
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(unguarded, 0);
}

namespace {

std::string defaultInput()
{
    return pactl({QStringLiteral("get-default-source")});
}

// Takes the test microphones off the server (also a sink made a source,
// which another test may have left), which then records its speakers'
// monitor by default, as a machine without a microphone does.
testing::AssertionResult removeMicrophones()
{
    const QString modules =
        QString::fromStdString(pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("modules")}));
    for (const QString& line : modules.split(QLatin1Char('\n'))) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() < 3 || fields[2].contains(QStringLiteral("parlaro")))
            continue;
        if (fields[1] == QStringLiteral("module-remap-source") || fields[1] == QStringLiteral("module-null-source")
            || (fields[1] == QStringLiteral("module-null-sink")
                && (fields[2].contains(QStringLiteral("_voice"))
                    || fields[2].contains(QStringLiteral("Audio/Source/Virtual")))))
            pactl({QStringLiteral("unload-module"), fields[0]});
    }
    const bool monitor = pumpUntil(
        [] {
            pactl({QStringLiteral("set-default-source"), QStringLiteral("test_speakers.monitor")});
            return defaultInput() == "test_speakers.monitor";
        },
        30);
    return monitor ? testing::AssertionSuccess()
                   : testing::AssertionFailure() << "the default input is " << defaultInput();
}

}  // namespace

// A server that applies new defaults after the backend last looked and never
// announces them, held so for certain by keeping the backend's copy of the
// defaults still: the takeover is found by asking the server, with no notice,
// its record stays while the virtual microphone is the default, and the quit
// gives the user's microphone back before the record goes.
TEST(RealRunSilentServer, TheMicrophoneIsTakenAndGivenBackByAskingTheServer)
{
    if (const std::string missing = test::missingRealRunPart({"pactl"}); !missing.empty())
        GTEST_SKIP() << "not installed: " << missing;
    test::RealRunWorld world;
    ASSERT_TRUE(test::loadMicrophone(userMic));
    test::SpanishSpeakerProgram program;
    const auto model = program.factory.model();
    auto& backend = dynamic_cast<sys::PulseAudioSystem&>(program.factory.audioSystem());
    // Not while loading the virtual microphone still puts the user's
    // defaults back.
    ASSERT_TRUE(pumpUntil([&] { return backend.virtualMicLoaded(); }, 30));
    backend.holdMirroredDefaults(true);

    ModelTestAccess::prepareSession(*model);
    ModelTestAccess::startWatching(*model);
    EXPECT_TRUE(pumpUntil([&] { return !ModelTestAccess::systemMic(*model).pending.get(); }, 30))
        << "the takeover was not found; the default input is " << defaultInput();
    EXPECT_EQ(defaultInput(), virtualMicSource);
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);
    EXPECT_TRUE(record(program.defaults) && record(program.defaults)->routedInput == virtualMicUID);

    model->shutdown();
    EXPECT_TRUE(pumpUntil([] { return defaultInput() == userMic; }, 30))
        << "the default input stayed " << defaultInput() << (record(program.defaults) ? "" : " with no record");
    EXPECT_EQ(record(program.defaults), std::nullopt);
}

// A quit while the session manager has yet to apply the switch, on a machine
// without a microphone: the switch may land after the program has gone, so
// the speakers' monitor is chosen again after it and the record kept; and a
// start that finds the virtual microphone the default with no record at all
// gives the input back, once, and says so.
TEST(RealRunUnderLoad, AQuitBeforeTheSwitchLandsLeavesTheInputWithTheUser)
{
    if (const std::string missing = test::missingRealRunPart({"pactl"}); !missing.empty())
        GTEST_SKIP() << "not installed: " << missing;
    if (!test::onPipeWire())
        GTEST_SKIP() << "PulseAudio applies a new default as it answers";
    test::RealRunWorld world;
    ASSERT_TRUE(removeMicrophones());
    const std::string monitor = defaultInput();
    const pid_t sessionManager = stalledProcess();
    ASSERT_GT(sessionManager, 0);
    CpuHog hog(40.0);

    for (const double quitAfter : {0.0, 0.3}) {
        std::optional<DefaultsData> kept;
        {
            test::SpanishSpeakerProgram program;
            const auto model = program.factory.model();
            Stall stall(sessionManager, 1.5);
            ModelTestAccess::prepareSession(*model);
            ModelTestAccess::startWatching(*model);
            pumpFor(quitAfter);
            model->shutdown();
            kept = program.defaults.get<DefaultsData>(SystemAudioRoute::recoveryKey);
        }
        // The session manager, let go, works through what it was sent.
        pumpFor(1.5);
        if (defaultInput() != monitor) {
            EXPECT_TRUE(kept) << "quit after " << quitAfter << " s: the default input stayed " << defaultInput()
                              << " with no record";
            test::SpanishSpeakerProgram next(carryRecord(kept));
            ModelTestAccess::prepareSession(*next.factory.model());
        }
        EXPECT_TRUE(pumpUntil([&] { return defaultInput() == monitor; }, 30))
            << "quit after " << quitAfter << " s: the default input is " << defaultInput();
    }

    // Left stranded by a run that wrote no record: given back at the next
    // start, said once, and recorded so that its quit gives it back again.
    pactl({QStringLiteral("set-default-source"), QString::fromUtf8(virtualMicSource)});
    ASSERT_TRUE(pumpUntil([] { return defaultInput() == virtualMicSource; }, 30));
    {
        test::SpanishSpeakerProgram program;
        const auto model = program.factory.model();
        ModelTestAccess::prepareSession(*model);
        ModelTestAccess::startWatching(*model);
        ASSERT_TRUE(model->errorMessage.get()) << "the give-back was not said";
        std::cout << "[ stranded ] " << *model->errorMessage.get() << "\n";
        pumpUntil([&] { return !ModelTestAccess::systemMic(*model).pending.get(); }, 30);
        const auto taken = record(program.defaults);
        EXPECT_TRUE(taken && taken->oldInput == monitor) << (taken ? taken->json() : "no record");
        model->shutdown();
    }
    EXPECT_TRUE(pumpUntil([&] { return defaultInput() == monitor; }, 30)) << "the default input is " << defaultInput();
}

// Another user's copy of the program holds the default input with the
// virtual microphone on a shared server: the copy started second neither
// takes it for stranded nor, quitting first, gives back a guess (here a
// microphone listed before the user's) in its place.
TEST(RealRunSharedServer, ACopyStartedSecondGivesBackNothingItDidNotTake)
{
    if (const std::string missing = test::missingRealRunPart({"pactl", "pacat"}); !missing.empty())
        GTEST_SKIP() << "not installed: " << missing;
    test::RealRunWorld world;
    ASSERT_TRUE(test::loadMicrophone("a_webcam_mic"));
    ASSERT_TRUE(test::loadMicrophone(userMic));
    // The first copy: its streams carry the program's id, and it made the
    // virtual microphone (which the second copy's backend loads as it
    // connects, if need be) the default.
    QProcess first;
    {
        test::SpanishSpeakerProgram second;
        const auto model = second.factory.model();
        first.start(QStringLiteral("pacat"),
                    {QStringLiteral("--playback"),
                     QStringLiteral("--property=application.id=") + QString::fromUtf8(ownApplicationID),
                     QStringLiteral("/dev/zero")});
        ASSERT_TRUE(first.waitForStarted(static_cast<int>(test::patience(30) * 1000)));
        ASSERT_TRUE(pumpUntil(
            [] {
                pactl({QStringLiteral("set-default-source"), QString::fromUtf8(virtualMicSource)});
                return defaultInput() == virtualMicSource;
            },
            30));
        // The first copy's stream reaches the backend's mirror.
        const AudioSystem& system = second.factory.audioSystem();
        ASSERT_TRUE(pumpUntil(
            [&] {
                AudioPropertyValue pid = static_cast<std::uint32_t>(first.processId());
                AudioString bundle;
                std::uint32_t process = 0;
                return system.get(audioSystemObject, {AudioSelectors::translatePIDToProcess}, process, &pid)
                    == AudioStatuses::ok
                    && process != 0
                    && system.get(process, {AudioSelectors::processBundleID}, bundle) == AudioStatuses::ok
                    && bundle == ownApplicationID;
            },
            30))
            << "the backend never saw the first copy's stream";
        ModelTestAccess::prepareSession(*model);
        ModelTestAccess::startWatching(*model);
        pumpFor(1.0);
        EXPECT_EQ(model->errorMessage.get(), std::nullopt);
        EXPECT_EQ(defaultInput(), virtualMicSource);
        model->shutdown();
    }
    pumpFor(1.0);
    EXPECT_EQ(defaultInput(), virtualMicSource) << "the copy started second gave back what it never took";
    first.kill();
    first.waitForFinished(static_cast<int>(test::patience(10) * 1000));
    pactl({QStringLiteral("set-default-source"), QString::fromUtf8(userMic)});
}

namespace {

// The process that answers the program's connections.
pid_t serverProcess()
{
    const fs::path folder = test::soundServerFolder();
    std::ifstream file(test::onPipeWire() ? folder / "pipewire-pulse.pid" : folder / "pulse" / "pid");
    long pid = 0;
    return (file >> pid) && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

}  // namespace

// The sound server held still across the start (its process stopped, as a
// starved or hung one is; on PipeWire also its session manager, without
// which the server lets no new client in): while it is held, the program's
// parts are made, the main thread goes on turning and the program says that
// the server does not answer; once it answers, the start goes on as any
// does: the virtual microphone becomes the default input, and the quit gives
// the user's microphone back. The server stays held for at least 3 s and
// until all that was seen, or until a hang's bound: a start that waited on
// the server would see none of it before the server answered, however fast
// or loaded the machine. How long each step took is printed; only a step
// as long as a wait on the server fails it.
TEST(RealRunStalledServer, AStartAcrossAServerThatDoesNotAnswerNeverHoldsTheMainThread)
{
    if (const std::string missing = test::missingRealRunPart({"pactl"}); !missing.empty())
        GTEST_SKIP() << "not installed: " << missing;
    test::RealRunWorld world;
    ASSERT_TRUE(test::loadMicrophone(userMic));
    std::vector<pid_t> stalled{serverProcess()};
    if (test::onPipeWire())
        stalled.push_back(stalledProcess());
    for (const pid_t process : stalled) {
        ASSERT_GT(process, 0) << "no process to hold still in " << test::soundServerFolder();
        // What the last round's program left queued (its recognizer ends
        // once its model is loaded) runs now, not in the next start's
        // measured steps.
        pumpFor(process == stalled.front() ? 0.0 : 3.0);
        using Clock = std::chrono::steady_clock;
        const auto seconds = [](Clock::time_point from) {
            return std::chrono::duration<double>(Clock::now() - from).count();
        };
        Stall stall(process, test::patience(60));
        const auto launched = Clock::now();
        test::SpanishSpeakerProgram program;
        const double built = seconds(launched);
        const bool builtWhileHeld = stall.held();
        const auto model = program.factory.model();
        rt::spawn([model]() -> rt::Async<void> { co_await model->start(); });
        // Each turn of the loop is what one main-thread step held it for.
        double longest = 0;
        double said = -1;
        int turns = 0;
        while (stall.held() && (said < 0 || seconds(launched) < 3.0)) {
            const auto turn = Clock::now();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            longest = std::max(longest, seconds(turn));
            if (said < 0 && model->audioServerLost.get() && model->audioServerSilent.get())
                said = seconds(launched);
            ++turns;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const bool stillHeld = stall.held();
        stall.letGo();
        std::cout << "[ stalled  ] process " << process << ": built in " << built << " s, " << turns
                  << " turns of the main loop, the longest " << longest << " s, said after " << said << " s\n";
        EXPECT_TRUE(builtWhileHeld) << "the program's parts waited for the server";
        EXPECT_GE(said, 0.0) << "never said that the server does not answer";
        EXPECT_TRUE(stillHeld) << "the main thread was held until the server answered";
        // A step that waits on the server with a timeout of its own lets the
        // start go on but holds the window still for that long; a loaded
        // machine stretches one turn of the loop far less than such a wait.
        EXPECT_LT(longest, test::patience(2.0)) << "one step of the main thread waited on the server";

        EXPECT_TRUE(pumpUntil(
            [&] {
                return !model->audioServerLost.get() && !ModelTestAccess::systemMic(*model).pending.get()
                    && defaultInput() == virtualMicSource;
            },
            30))
            << "after the server answered: the default input is " << defaultInput()
            << (model->audioServerLost.get() ? ", the server still counts as lost" : "");
        EXPECT_EQ(model->errorMessage.get(), std::nullopt);
        model->shutdown();
        EXPECT_TRUE(pumpUntil([] { return defaultInput() == userMic; }, 30))
            << "the default input is " << defaultInput();
    }
}
