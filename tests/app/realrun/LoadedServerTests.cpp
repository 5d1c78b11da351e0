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

#include "audio/SystemAudioRoute.h"
#include "model/ModelTestAccess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
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
// `seconds`, then let go (at the latest when this goes).
class Stall {
public:
    Stall(pid_t pid, double seconds) : pid_(pid)
    {
        if (pid_ <= 0 || seconds <= 0)
            return;
        ::kill(pid_, SIGSTOP);
        thread_ = std::thread([this, seconds] {
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
            ::kill(pid_, SIGCONT);
        });
    }
    ~Stall() { release(); }
    Stall(const Stall&) = delete;
    Stall& operator=(const Stall&) = delete;
    void release()
    {
        if (thread_.joinable())
            thread_.join();
    }

private:
    pid_t pid_;
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
                return !ModelTestAccess::systemMicPending(*model).get()
                    && pactl({QStringLiteral("get-default-source")}) == virtualMicSource;
            },
            15);
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
        const bool back = pumpUntil([] { return pactl({QStringLiteral("get-default-source")}) == userMic; }, 5);
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
        EXPECT_TRUE(pumpUntil([] { return pactl({QStringLiteral("get-default-source")}) == userMic; }, 5));
    }
    std::cout << "[ load     ] " << rounds << " starts and quits " << (stalls ? "with" : "without")
              << " the server held still: " << falseFailures << " false failures, " << lost << " lost inputs, "
              << unguarded << " records dropped unconfirmed, " << keptForNextStart
              << " records kept for the next start\n";
    EXPECT_EQ(falseFailures, 0);
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(unguarded, 0);
}
