#include "UiWorld.h"
#include "support/TempDirectory.h"

#include "platform/linux/ProcessRunner.h"
#include "platform/linux/ProcfsProcessTable.h"
#include "platform/sim/SimSettingsStore.h"
#include "settings/LegacyHelperRemoval.h"

#include <gtest/gtest.h>

#include <map>
#include <unistd.h>

using namespace parlaro;
using namespace parlaro::settings;

namespace {

constexpr uid_t me = 1000;

struct FakeProcess {
    std::string name;
    uid_t owner = me;
    bool ignoresTerm = false;
};

class FakeProcesses final : public ProcessTable {
public:
    std::map<pid_t, FakeProcess> running;
    std::vector<pid_t> signalled;
    // Runs once, after a name was read: a pid changing hands between the
    // listing and the signal.
    mutable std::function<void()> afterName;

    std::vector<pid_t> pids() const override
    {
        std::vector<pid_t> result;
        for (const auto& [pid, process] : running)
            result.push_back(pid);
        return result;
    }
    std::optional<std::string> name(pid_t pid) const override
    {
        auto found = running.find(pid);
        auto result = found == running.end() ? std::nullopt : std::optional(found->second.name);
        if (auto hook = std::exchange(afterName, nullptr))
            hook();
        return result;
    }
    std::optional<uid_t> owner(pid_t pid) const override
    {
        auto found = running.find(pid);
        return found == running.end() ? std::nullopt : std::optional(found->second.owner);
    }
    void terminate(pid_t pid) override
    {
        signalled.push_back(pid);
        if (auto found = running.find(pid); found != running.end() && !found->second.ignoresTerm)
            running.erase(found);
    }
};

class FakeSystemctl final : public CommandRunner {
public:
    std::vector<std::string> calls;
    int activeStatus = 3;
    int run(const std::string& program, const std::vector<std::string>& arguments) override
    {
        std::string call = program;
        for (const auto& argument : arguments)
            call += " " + argument;
        calls.push_back(call);
        return arguments.size() > 1 && arguments[1] == "is-active" ? activeStatus : 0;
    }
};

struct Machine {
    test::TempDirectory home;
    sim::SimSettingsStore defaults;
    FakeSystemctl systemctl;
    FakeProcesses processes;
    int sleeps = 0;

    LegacyHelperHost host()
    {
        return {home.path(), &defaults, &systemctl, &processes, me, [this](std::chrono::milliseconds) { ++sleeps; }};
    }
    bool done() const { return defaults.get<bool>(legacyHelperRemovedKey).value_or(false); }
};

}  // namespace

TEST(LegacyHelperRemoval, OnACleanMachineTheFlagIsSetAtOnce)
{
    Machine machine;
    performLegacyHelperRemoval(machine.host());
    EXPECT_TRUE(machine.done());
    EXPECT_EQ(machine.sleeps, 0);
    EXPECT_EQ(machine.systemctl.calls,
              (std::vector<std::string>{"/usr/bin/systemctl --user disable --now local.parlaro.helper.service",
                                        "/usr/bin/systemctl --user is-active --quiet local.parlaro.helper.service"}));
}

TEST(LegacyHelperRemoval, RemovesEveryTraceButForeignFilesAndKeys)
{
    Machine machine;
    for (const char* file :
         {"Library/LaunchAgents/local.parlaro.helper.plist", ".config/systemd/user/local.parlaro.helper.service",
          "Library/Application Support/Parlaro/owner.json", "Library/Application Support/Parlaro/settings.json",
          "Library/Application Support/Parlaro/helper.json", "Library/Application Support/Parlaro/other.txt"})
        machine.home.write(file, "x");
    machine.defaults.set("helperEnabled", DefaultsValue(true));
    machine.defaults.set("helperRepairedHash", DefaultsValue("abc"));
    machine.defaults.set("keep", DefaultsValue(true));

    performLegacyHelperRemoval(machine.host());

    EXPECT_FALSE(std::filesystem::exists(machine.home / "Library/LaunchAgents/local.parlaro.helper.plist"));
    EXPECT_FALSE(std::filesystem::exists(machine.home / ".config/systemd/user/local.parlaro.helper.service"));
    for (const char* file : {"owner.json", "settings.json", "helper.json"})
        EXPECT_FALSE(std::filesystem::exists(machine.home / "Library/Application Support/Parlaro" / file)) << file;
    EXPECT_TRUE(std::filesystem::exists(machine.home / "Library/Application Support/Parlaro/other.txt"));
    EXPECT_FALSE(machine.defaults.has("helperEnabled"));
    EXPECT_FALSE(machine.defaults.has("helperRepairedHash"));
    EXPECT_TRUE(machine.defaults.has("keep"));
    EXPECT_TRUE(machine.done());

    // The folder goes once nothing else is in it.
    Machine clean;
    clean.home.write("Library/Application Support/Parlaro/owner.json", "x");
    performLegacyHelperRemoval(clean.host());
    EXPECT_FALSE(std::filesystem::exists(clean.home / "Library/Application Support/Parlaro"));
}

TEST(LegacyHelperRemoval, SignalsOnlyThisUsersHelperByItsExactName)
{
    Machine machine;
    machine.processes.running = {
        {10, {"ParlaroHelper"}}, {11, {"ParlaroHelperX"}}, {12, {"ParlaroHelper", 0}}, {13, {"bash"}}};
    performLegacyHelperRemoval(machine.host());
    EXPECT_EQ(machine.processes.signalled, (std::vector<pid_t>{10}));
    EXPECT_TRUE(machine.done());

    // A pid that changed hands between the listing and the signal is spared.
    Machine reused;
    reused.processes.running = {{20, {"ParlaroHelper"}}};
    reused.processes.afterName = [&] { reused.processes.running[20] = {"editor"}; };
    performLegacyHelperRemoval(reused.host());
    EXPECT_TRUE(reused.processes.signalled.empty());
}

TEST(LegacyHelperRemoval, ASurvivingHelperOrActiveServiceLeavesTheFlagForTheNextLaunch)
{
    Machine machine;
    machine.processes.running = {{10, {"ParlaroHelper", me, true}}};
    performLegacyHelperRemoval(machine.host());
    EXPECT_FALSE(machine.done());
    EXPECT_EQ(machine.sleeps, 20) << "every round finds it and waits";

    Machine active;
    active.systemctl.activeStatus = 0;
    performLegacyHelperRemoval(active.host());
    EXPECT_FALSE(active.done());

    Machine noTool;
    noTool.systemctl.activeStatus = -1;
    performLegacyHelperRemoval(noTool.host());
    EXPECT_TRUE(noTool.done()) << "a tool that cannot run knows no service";
}

TEST(LegacyHelperRemoval, RunsInTheBackgroundOnlyUntilDone)
{
    test::UiWorld world;
    Machine machine;
    machine.defaults.set(legacyHelperRemovedKey, DefaultsValue(true));
    removeLegacyHelper(machine.host());
    world.settle();
    EXPECT_TRUE(machine.systemctl.calls.empty());

    machine.defaults.remove(legacyHelperRemovedKey);
    removeLegacyHelper(machine.host());
    world.settle();
    EXPECT_EQ(machine.systemctl.calls.size(), 2u);
    EXPECT_TRUE(machine.done());
}

TEST(LinuxProcessSeams, RunAProgramAndReadThisProcess)
{
    sys::ProcessRunner runner;
    EXPECT_EQ(runner.run("/bin/true", {}), 0);
    EXPECT_EQ(runner.run("/bin/sh", {"-c", "echo noise; exit 3"}), 3);
    EXPECT_EQ(runner.run("/nonexistent/tool", {}), -1);

    sys::ProcfsProcessTable table;
    const auto pids = table.pids();
    EXPECT_NE(std::find(pids.begin(), pids.end(), getpid()), pids.end());
    EXPECT_EQ(table.owner(getpid()), getuid());
    EXPECT_TRUE(table.name(getpid()).has_value());
    EXPECT_EQ(table.name(0), std::nullopt);

    test::TempDirectory fakeProc;
    fakeProc.write("42/comm", "ParlaroHelper\n");
    fakeProc.write("self/comm", "x\n");
    const sys::ProcfsProcessTable fake(fakeProc.path());
    EXPECT_EQ(fake.pids(), (std::vector<pid_t>{42}));
    EXPECT_EQ(fake.name(42), "ParlaroHelper");
}
