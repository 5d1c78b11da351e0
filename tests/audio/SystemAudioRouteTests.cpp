#include "audio/AudioDevices.h"
#include "audio/SystemAudioRoute.h"
#include "platform/sim/SimAudioSystem.h"
#include "platform/sim/SimPlatform.h"
#include "runtime/ManualRuntime.h"
#include "speech/InterfaceLanguage.h"
#include "support/SimDevices.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

using sim::AudioOperation;
using Snapshot = SystemAudioRoute::Snapshot;

constexpr const char* key = "systemAudioRouteRecovery";

// A built-in microphone (10), the virtual microphone (20) and its companion
// (21), speakers (30) and a USB microphone (40).
struct RouteWorld {
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimAudioSystem sim;

    RouteWorld()
    {
        add(10, "builtin-mic", {1}, {}, 0);
        add(20, virtualMicUID, {2}, {2}, AudioTransports::virtualDevice);
        add(21, injectionUID, {2}, {2}, AudioTransports::virtualDevice);
        add(30, "speakers", {}, {2}, 0);
        add(40, "usb-mic", {1}, {}, 0);
        sim.setDefaultDevice(true, 10);
        sim.setDefaultDevice(false, 30);
    }

    void add(AudioObjectId id, std::string uid, std::vector<std::uint32_t> in, std::vector<std::uint32_t> out,
             std::uint32_t transport)
    {
        sim.addDevice(
            test::simDevice(id, uid).named(uid).input(std::move(in)).output(std::move(out)).transport(transport));
    }

    // Built as the application builds it at start-up.
    SystemAudioRoute route(SystemAudioRoute::SetDefault setDefault = &AudioDevices::setDefaultDevice,
                           SystemAudioRoute::Current current = &AudioDevices::askedDefaultDeviceID)
    {
        return SystemAudioRoute(platform.defaults, &AudioDevices::allDevices, std::move(current), std::move(setDefault),
                                SystemAudioRoute::savedSnapshot(platform.defaults));
    }

    std::optional<std::string> stored() const
    {
        auto data = platform.defaults.get<DefaultsData>(key);
        return data ? std::optional(std::string(data->begin(), data->end())) : std::nullopt;
    }

    void store(const std::string& json) { platform.defaults.set(key, DefaultsData(json.begin(), json.end())); }

    AudioDevice listed(AudioObjectId id) const
    {
        for (const auto& device : AudioDevices::allDevices())
            if (device.id == id)
                return device;
        throw std::logic_error("not listed");
    }

    std::size_t defaultSets() const
    {
        return sim.sets(audioSystemObject, {"dIn "_fcc}).size() + sim.sets(audioSystemObject, {"dOut"_fcc}).size();
    }
};

template <class F>
std::optional<DomainError> failureOf(F call)
{
    try {
        call();
    } catch (const DomainError& error) {
        return error;
    }
    return std::nullopt;
}

TEST(SystemAudioRoute, RoutingRecordsThePreviousInputFirst)
{
    RouteWorld world;
    auto route = world.route();
    EXPECT_EQ(route.snapshot(), std::nullopt);

    route.routeInput(world.listed(20), std::nullopt);
    EXPECT_EQ(world.sim.defaultDevice(true), 20u);
    EXPECT_EQ(route.snapshot(), (Snapshot{"builtin-mic", "", virtualMicUID, ""}));
    EXPECT_EQ(world.stored(),
              R"({"oldInput":"builtin-mic","oldOutput":"","routedInput":"com.parlaro.virtualmic","routedOutput":""})");

    // Routed already: the first previous input stays, and no switch is needed.
    world.sim.clearEvents();
    route.routeInput(world.listed(20), "launch-mic");
    EXPECT_EQ(route.snapshot()->oldInput, "builtin-mic");
    EXPECT_EQ(world.defaultSets(), 0u);

    // The virtual microphone was the default without a record: the launch-time
    // input is remembered, or nothing.
    world.platform.defaults.remove(key);
    auto fresh = world.route();
    fresh.routeInput(world.listed(20), "launch-mic");
    EXPECT_EQ(fresh.snapshot(), (Snapshot{"launch-mic", "", virtualMicUID, ""}));
    EXPECT_EQ(world.defaultSets(), 0u);
    world.platform.defaults.remove(key);
    auto bare = world.route();
    bare.routeInput(world.listed(20), std::nullopt);
    EXPECT_EQ(bare.snapshot(), (Snapshot{"", "", virtualMicUID, ""}));
    EXPECT_EQ(world.defaultSets(), 0u);
    world.platform.defaults.remove(key);
    world.sim.setDefaultDevice(true, 21);
    auto again = world.route();
    again.routeInput(world.listed(20), std::nullopt);
    EXPECT_EQ(again.snapshot(), (Snapshot{"", "", virtualMicUID, ""}));
    EXPECT_EQ(world.sim.defaultDevice(true), 20u);

    // A settings store that cannot be written stops the routing before any
    // switch, so no switch is ever made without its record.
    world.platform.defaults.remove(key);
    world.sim.setDefaultDevice(true, 10);
    auto unsaved = world.route();
    world.platform.defaults.failWrites(DomainError("SettingsStore", 1, "disk full"));
    EXPECT_THROW(unsaved.routeInput(world.listed(20), std::nullopt), DomainError);
    EXPECT_EQ(world.sim.defaultDevice(true), 10u);
    EXPECT_EQ(unsaved.snapshot(), std::nullopt);
}

TEST(SystemAudioRoute, AFailedSwitchLeavesNoInputHalf)
{
    RouteWorld world;

    // Accepted, not applied yet: no failure, and the record stays for the
    // switch the server applies later, which then counts without a new one.
    world.sim.setDefaultSwitch(true, sim::DefaultSwitch::ignored);
    auto route = world.route();
    EXPECT_FALSE(route.routeInput(world.listed(20), std::nullopt));
    const Snapshot routed{"builtin-mic", "", virtualMicUID, ""};
    EXPECT_EQ(SystemAudioRoute::savedSnapshot(world.platform.defaults), routed);
    world.sim.setDefaultDevice(true, 20);
    world.sim.clearEvents();
    EXPECT_TRUE(route.routeInput(world.listed(20), "launch-mic"));
    EXPECT_EQ(world.defaultSets(), 0u);
    EXPECT_EQ(route.snapshot(), routed);
    world.sim.setDefaultDevice(true, 10);
    world.platform.defaults.remove(key);

    // A record with an output half keeps that half.
    world.sim.setDefaultSwitch(true, sim::DefaultSwitch::takesEffect);
    world.sim.fail(audioSystemObject, "dIn "_fcc, AudioOperation::setPropertyData, -50);
    world.store(R"({"oldInput":"","oldOutput":"speakers","routedInput":"","routedOutput":"com.parlaro.virtualmic"})");
    auto withOutput = world.route();
    EXPECT_EQ(failureOf([&] { withOutput.routeInput(world.listed(20), std::nullopt); }),
              DomainError("SystemAudio", -50, "无法切换系统麦克风（-50）"));
    const Snapshot outputOnly{"", "speakers", "", virtualMicUID};
    EXPECT_EQ(withOutput.snapshot(), outputOnly);
    EXPECT_EQ(SystemAudioRoute::savedSnapshot(world.platform.defaults), outputOnly);
    world.sim.clearFailures();

    // A switch that reports failure but took effect anyway counts as done.
    world.platform.defaults.remove(key);
    auto lucky = world.route([&world](AudioObjectId device, bool input) {
        world.sim.setDefaultDevice(input, device);
        throw DomainError("SystemAudio", -1, "无法切换系统麦克风（-1）");
    });
    lucky.routeInput(world.listed(20), std::nullopt);
    EXPECT_EQ(lucky.snapshot(), (Snapshot{"builtin-mic", "", virtualMicUID, ""}));
}

TEST(SystemAudioRoute, TheRecordSurvivesACrashAndIsRestoredAtTheNextStart)
{
    RouteWorld world;
    {
        auto route = world.route();
        route.routeInput(world.listed(20), std::nullopt);
        // The process ends here without restoring.
    }
    ASSERT_TRUE(world.stored());
    auto nextStart = world.route();
    EXPECT_EQ(nextStart.snapshot(), (Snapshot{"builtin-mic", "", virtualMicUID, ""}));
    nextStart.restoreSavedRoute();
    EXPECT_EQ(world.sim.defaultDevice(true), 10u);
    EXPECT_EQ(nextStart.snapshot(), std::nullopt);
    EXPECT_EQ(world.stored(), std::nullopt);
    world.sim.clearEvents();
    nextStart.restoreSavedRoute();
    EXPECT_EQ(world.defaultSets(), 0u);

    // Records that do not decode are no record, and stay as they are.
    const std::string deep = R"({"oldInput":"a","oldOutput":"","routedInput":"b","routedOutput":"","x":)"
        + std::string(100'000, '[') + std::string(100'000, ']') + "}";
    for (const std::string& bad : std::vector<std::string>{
             R"({"oldInput":"a","oldOutput":"","routedInput":"b"})",
             R"({"oldInput":1,"oldOutput":"","routedInput":"b","routedOutput":""})", "not json", deep}) {
        world.store(bad);
        EXPECT_EQ(world.route().snapshot(), std::nullopt) << bad.substr(0, 80);
        EXPECT_EQ(world.stored(), bad);
    }
    world.platform.defaults.set(key, "a string, not data");
    EXPECT_EQ(world.route().snapshot(), std::nullopt);
}

TEST(SystemAudioRoute, RestoringCollectsEveryProblem)
{
    RouteWorld world;
    const std::string both =
        R"({"oldInput":"gone-mic","oldOutput":"gone-speakers","routedInput":"com.parlaro.virtualmic","routedOutput":"com.parlaro.virtualmic"})";
    world.sim.setDefaultDevice(true, 20);
    world.sim.setDefaultDevice(false, 20);

    // The previous microphone is gone: the first real input with channels
    // takes its place (not the virtual devices, not the speakers).
    world.store(both);
    auto route = world.route();
    route.restoreSavedRoute();
    EXPECT_EQ(world.sim.defaultDevice(true), 10u);
    EXPECT_EQ(world.sim.defaultDevice(false), 30u);

    // No substitute on either side: one error with both texts.
    world.sim.removeObject(10);
    world.sim.removeObject(40);
    world.sim.removeObject(30);
    world.sim.setDefaultDevice(true, 20);
    world.sim.setDefaultDevice(false, 20);
    world.store(both);
    auto lost = world.route();
    EXPECT_EQ(failureOf([&] { lost.restoreSavedRoute(); }),
              DomainError("SystemAudioRoute", 1, "原麦克风未连接；原声音输出未连接"));
    EXPECT_EQ(world.stored(), std::nullopt);
    EXPECT_EQ(lost.snapshot(), std::nullopt);
    // The texts are joined as the interface language joins two sentences.
    world.platform.bundles.setTable("en",
                                    {{"原麦克风未连接", "The previous microphone is not connected"},
                                     {"原声音输出未连接", "The previous sound output is not connected"},
                                     {"%@；%@", "%@. %@"}});
    InterfaceLanguage::set("en");
    world.sim.setDefaultDevice(true, 20);
    world.sim.setDefaultDevice(false, 20);
    world.store(both);
    EXPECT_EQ(failureOf([&] { world.route().restoreSavedRoute(); }),
              DomainError("SystemAudioRoute", 1,
                          "The previous microphone is not connected. The previous sound output is not connected"));
    InterfaceLanguage::set("zh-Hans");

    // Only the input half, with no substitute: its text alone.
    world.sim.setDefaultDevice(true, 20);
    world.store(R"({"oldInput":"gone-mic","oldOutput":"","routedInput":"com.parlaro.virtualmic","routedOutput":""})");
    EXPECT_EQ(failureOf([&] { world.route().restoreSavedRoute(); }),
              DomainError("SystemAudioRoute", 1, "原麦克风未连接"));

    // The user has chosen another input meanwhile: the half is dropped
    // without a switch. A half whose previous device is the routed one is
    // left alone too.
    world.add(10, "builtin-mic", {1}, {}, 0);
    world.sim.setDefaultDevice(true, 10);
    world.store(
        R"({"oldInput":"usb-mic","oldOutput":"com.parlaro.virtualmic","routedInput":"com.parlaro.virtualmic","routedOutput":"com.parlaro.virtualmic"})");
    world.sim.clearEvents();
    world.route().restoreSavedRoute();
    EXPECT_EQ(world.defaultSets(), 0u);
    EXPECT_EQ(world.sim.defaultDevice(true), 10u);

    // A switch that fails is reported with its own text, after the other half
    // was still tried.
    world.add(30, "speakers", {}, {2}, 0);
    world.sim.setDefaultDevice(true, 20);
    world.sim.fail(audioSystemObject, "dIn "_fcc, AudioOperation::setPropertyData, -50);
    world.store(both);
    EXPECT_EQ(failureOf([&] { world.route().restoreSavedRoute(); }),
              DomainError("SystemAudioRoute", 1, "无法切换系统麦克风（-50）"));
    EXPECT_EQ(world.sim.defaultDevice(false), 30u);
    world.sim.clearFailures();

    // No previous input was known (the virtual microphone was the default
    // already, and no copy of the program said what the user had): with no
    // copy left to hold it, a microphone stands in, never a device whose
    // UID cannot be read, and the record goes.
    world.add(50, "unreadable", {}, {2}, 0);
    world.sim.fail(50, "uid "_fcc, AudioOperation::getPropertyData, AudioStatuses::unspecified);
    world.sim.setDefaultDevice(true, 20);
    world.store(R"({"oldInput":"","oldOutput":"","routedInput":"com.parlaro.virtualmic","routedOutput":""})");
    world.route().restoreSavedRoute();
    EXPECT_EQ(world.sim.defaultDevice(true), 10u);
    EXPECT_EQ(world.stored(), std::nullopt);
}

TEST(SystemAudioRoute, AnUnlistedDefaultInputIsGivenBackButNeverStandsIn)
{
    // No microphone: the default input is the speakers' monitor, which the
    // device list leaves out.
    RouteWorld world;
    world.sim.removeObject(10);
    world.sim.removeObject(40);
    world.sim.addDevice(test::simDevice(50, "speakers.monitor").named("Monitor of speakers").input({2}).unlisted());
    world.sim.setDefaultDevice(true, 50);

    {
        auto route = world.route();
        route.routeInput(world.listed(20), "launch-mic");
        EXPECT_EQ(route.snapshot(), (Snapshot{"speakers.monitor", "", virtualMicUID, ""}));
        EXPECT_EQ(world.sim.defaultDevice(true), 20u);
        route.restoreSavedRoute();
        EXPECT_EQ(world.sim.defaultDevice(true), 50u);
        EXPECT_EQ(world.stored(), std::nullopt);

        // After a crash the record names it for the next start.
        route.routeInput(world.listed(20), std::nullopt);
    }
    world.route().restoreSavedRoute();
    EXPECT_EQ(world.sim.defaultDevice(true), 50u);

    // A previous input that is gone, with no microphone left: the speakers'
    // monitor stands in, so the virtual microphone does not stay the
    // default with the program gone.
    world.sim.setDefaultDevice(true, 20);
    world.store(R"({"oldInput":"gone-mic","oldOutput":"","routedInput":"com.parlaro.virtualmic","routedOutput":""})");
    EXPECT_EQ(failureOf([&] { world.route().restoreSavedRoute(); }), std::nullopt);
    EXPECT_EQ(world.sim.defaultDevice(true), 50u);

    // An unlisted device without input channels is not given back as one.
    world.sim.setDefaultDevice(true, 20);
    world.sim.addDevice(test::simDevice(60, "hidden-out").named("hidden-out").output({2}).unlisted());
    world.store(R"({"oldInput":"hidden-out","oldOutput":"","routedInput":"com.parlaro.virtualmic","routedOutput":""})");
    EXPECT_EQ(failureOf([&] { world.route().restoreSavedRoute(); }), std::nullopt);
    EXPECT_EQ(world.sim.defaultDevice(true), 50u);

    // Nothing to stand in (the default output is the virtual one too):
    // said, and nothing is switched.
    world.sim.setDefaultDevice(true, 20);
    world.sim.setDefaultDevice(false, 20);
    world.store(R"({"oldInput":"gone-mic","oldOutput":"","routedInput":"com.parlaro.virtualmic","routedOutput":""})");
    EXPECT_EQ(failureOf([&] { world.route().restoreSavedRoute(); }),
              DomainError("SystemAudioRoute", 1, "原麦克风未连接"));
    EXPECT_EQ(world.sim.defaultDevice(true), 20u);
}

TEST(SystemAudioRoute, AGiveBackIsConfirmedOrItsHalfStaysForTheNextStart)
{
    RouteWorld world;
    const std::string both =
        R"({"oldInput":"builtin-mic","oldOutput":"speakers","routedInput":"com.parlaro.virtualmic","routedOutput":"com.parlaro.virtualmic"})";
    // A server under load acknowledges a switch and applies it only a while
    // later: here at the `late`-th write.
    int writes = 0;
    int late = 2;
    auto lagging = [&](AudioObjectId device, bool input) {
        if (++writes >= late)
            world.sim.setDefaultDevice(input, device);
    };

    // Applied at the second try: given back, and the record goes.
    world.sim.setDefaultDevice(true, 20);
    world.sim.setDefaultDevice(false, 20);
    world.store(both);
    world.route(lagging).restoreSavedRoute();
    EXPECT_EQ(world.sim.defaultDevice(true), 10u);
    EXPECT_EQ(world.sim.defaultDevice(false), 30u);
    EXPECT_EQ(world.stored(), std::nullopt);

    // Never applied while the program runs: the input half stays, and the
    // next start gives the microphone back.
    world.sim.setDefaultDevice(true, 20);
    world.sim.setDefaultDevice(false, 20);
    world.store(both);
    writes = 0;
    late = SystemAudioRoute::giveBackAttempts + 2;
    EXPECT_EQ(failureOf([&] { world.route(lagging).restoreSavedRoute(); }),
              DomainError("SystemAudioRoute", 1, "声音服务器接受了系统麦克风的切换，但没有生效"));
    EXPECT_EQ(writes, SystemAudioRoute::giveBackAttempts + 2);
    EXPECT_EQ(world.sim.defaultDevice(true), 20u);
    EXPECT_EQ(SystemAudioRoute::savedSnapshot(world.platform.defaults),
              (Snapshot{"builtin-mic", "", virtualMicUID, ""}));
    world.route().restoreSavedRoute();
    EXPECT_EQ(world.sim.defaultDevice(true), 10u);
    EXPECT_EQ(world.stored(), std::nullopt);

    // A refused give-back that leaves the microphone routed is kept as well;
    // one that took effect anyway is not.
    world.sim.setDefaultDevice(true, 20);
    world.store(both);
    world.sim.fail(audioSystemObject, "dIn "_fcc, AudioOperation::setPropertyData, -50);
    EXPECT_EQ(failureOf([&] { world.route().restoreSavedRoute(); }),
              DomainError("SystemAudioRoute", 1, "无法切换系统麦克风（-50）"));
    EXPECT_EQ(SystemAudioRoute::savedSnapshot(world.platform.defaults),
              (Snapshot{"builtin-mic", "", virtualMicUID, ""}));
    world.store(both);
    world.sim.setDefaultDevice(false, 20);
    EXPECT_NO_THROW(world
                        .route([&world](AudioObjectId device, bool input) {
                            world.sim.setDefaultDevice(input, device);
                            throw DomainError("SystemAudio", -1, "无法切换系统麦克风（-1）");
                        })
                        .restoreSavedRoute());
    EXPECT_EQ(world.sim.defaultDevice(true), 10u);
    EXPECT_EQ(world.stored(), std::nullopt);

    // Giving back the output alone keeps an output half that stays routed.
    world.sim.setDefaultDevice(false, 20);
    world.store(both);
    writes = 0;
    auto outputLate = world.route(lagging);
    EXPECT_THROW(outputLate.restoreOutput(), DomainError);
    EXPECT_EQ(outputLate.snapshot(), SystemAudioRoute::Snapshot::decode(both));

    // A system that cannot be asked what its default is keeps the record,
    // and nothing is switched on a guess.
    const std::string input =
        R"({"oldInput":"builtin-mic","oldOutput":"","routedInput":"com.parlaro.virtualmic","routedOutput":""})";
    world.sim.setDefaultDevice(true, 20);
    world.store(input);
    world.sim.clearEvents();
    world
        .route(&AudioDevices::setDefaultDevice,
               [](bool) -> std::optional<AudioObjectId> {
                   throw DomainError("SystemAudio", AudioStatuses::unanswered, "no answer");
               })
        .restoreSavedRoute();
    EXPECT_EQ(world.defaultSets(), 0u);
    EXPECT_EQ(world.stored(), input);

    // A stalled server: the half that went unanswered is what a later try
    // gives back, and its record goes once that try is seen to land.
    world.sim.clearFailures();
    bool stalled = true;
    auto stalling = world.route(&AudioDevices::setDefaultDevice, [&stalled](bool input) {
        if (stalled)
            throw DomainError("SystemAudio", AudioStatuses::unanswered, "no answer");
        return AudioDevices::askedDefaultDeviceID(input);
    });
    stalling.restoreSavedRoute();
    EXPECT_TRUE(stalling.giveBackUnfinished());
    stalling.retryGiveBack();
    EXPECT_TRUE(stalling.giveBackUnfinished());
    EXPECT_EQ(world.stored(), input);
    stalled = false;
    stalling.retryGiveBack();
    EXPECT_FALSE(stalling.giveBackUnfinished());
    EXPECT_EQ(world.sim.defaultDevice(true), 10u);
    EXPECT_EQ(world.stored(), std::nullopt);
    // Nothing is left to try again.
    world.sim.setDefaultDevice(true, 20);
    stalling.retryGiveBack();
    EXPECT_EQ(world.sim.defaultDevice(true), 20u);

    // A quit before a switch the server accepted was seen to land: the
    // user's microphone is chosen again after it, so it is the last word,
    // and the record stays for the next start in case the switch lands yet.
    world.platform.defaults.remove(key);
    world.sim.setDefaultDevice(true, 10);
    std::vector<AudioObjectId> sent;
    auto early = world.route([&sent](AudioObjectId device, bool) { sent.push_back(device); });
    EXPECT_FALSE(early.routeInput(world.listed(20), std::nullopt));
    early.restoreSavedRoute();
    EXPECT_EQ(sent, (std::vector<AudioObjectId>{20, 10}));
    EXPECT_EQ(SystemAudioRoute::savedSnapshot(world.platform.defaults),
              (Snapshot{"builtin-mic", "", virtualMicUID, ""}));
    // Waiting on such a switch would hold every quit up for nothing.
    EXPECT_FALSE(early.giveBackUnfinished());
}

// Two copies on one server: the one that quits first leaves the input to
// the one still running, and keeps its record, so a start after both have
// gone gives the user's microphone back.
TEST(SystemAudioRoute, AQuitLeavesTheInputToAnotherCopyStillRunning)
{
    RouteWorld world;
    auto first = world.route();
    ASSERT_TRUE(first.routeInput(world.listed(20), std::nullopt));
    world.sim.addProcess(sim::SimProcess{.id = 900, .pid = 5151, .bundleID = ownApplicationID});
    world.sim.clearEvents();
    EXPECT_NO_THROW(first.restoreSavedRoute());
    EXPECT_EQ(world.defaultSets(), 0u);
    EXPECT_EQ(world.sim.defaultDevice(true), 20u);
    EXPECT_FALSE(first.giveBackUnfinished());
    EXPECT_EQ(SystemAudioRoute::savedSnapshot(world.platform.defaults),
              (Snapshot{"builtin-mic", "", virtualMicUID, ""}));

    // A copy of another program is no reason to keep it.
    world.sim.removeObject(900);
    world.sim.addProcess(sim::SimProcess{.id = 901, .pid = 5152, .bundleID = std::string("org.example.caller")});
    world.route().restoreSavedRoute();
    EXPECT_EQ(world.sim.defaultDevice(true), 10u);
    EXPECT_EQ(world.stored(), std::nullopt);
}

TEST(SystemAudioRoute, RestoringTheOutputKeepsTheInputHalf)
{
    RouteWorld world;
    world.sim.setDefaultDevice(true, 20);
    world.sim.setDefaultDevice(false, 20);
    world.store(
        R"({"oldInput":"builtin-mic","oldOutput":"speakers","routedInput":"com.parlaro.virtualmic","routedOutput":"com.parlaro.virtualmic"})");
    auto route = world.route();
    route.restoreOutput();
    EXPECT_EQ(world.sim.defaultDevice(false), 30u);
    EXPECT_EQ(world.sim.defaultDevice(true), 20u);
    const Snapshot inputOnly{"builtin-mic", "", virtualMicUID, ""};
    EXPECT_EQ(route.snapshot(), inputOnly);
    EXPECT_EQ(SystemAudioRoute::savedSnapshot(world.platform.defaults), inputOnly);
    world.sim.clearEvents();
    route.restoreOutput();
    EXPECT_EQ(world.defaultSets(), 0u);

    // Only an output half: the record goes; a missing device is reported.
    world.sim.setDefaultDevice(false, 20);
    world.sim.removeObject(30);
    world.store(R"({"oldInput":"","oldOutput":"speakers","routedInput":"","routedOutput":"com.parlaro.virtualmic"})");
    auto outputOnly = world.route();
    EXPECT_EQ(failureOf([&] { outputOnly.restoreOutput(); }), DomainError("SystemAudioRoute", 1, "原声音输出未连接"));
    EXPECT_EQ(outputOnly.snapshot(), std::nullopt);
    EXPECT_EQ(world.stored(), std::nullopt);
}

TEST(SystemAudioRoute, ASettingsStoreThatRefusesTheWriteStillGetsTheDevicesBack)
{
    RouteWorld world;
    const std::string both =
        R"({"oldInput":"builtin-mic","oldOutput":"speakers","routedInput":"com.parlaro.virtualmic","routedOutput":"com.parlaro.virtualmic"})";
    world.sim.setDefaultDevice(true, 20);
    world.sim.setDefaultDevice(false, 20);
    world.store(both);
    world.platform.defaults.failWrites(DomainError("SettingsStore", 1, "disk full"));

    // The output half alone: the speakers come back, the write's failure is
    // reported, and the record keeps both halves.
    auto route = world.route();
    EXPECT_EQ(failureOf([&] { route.restoreOutput(); }), DomainError("SystemAudioRoute", 1, "disk full"));
    EXPECT_EQ(world.sim.defaultDevice(false), 30u);
    EXPECT_EQ(world.sim.defaultDevice(true), 20u);
    EXPECT_EQ(world.stored(), both);

    // Both halves: the microphone comes back too, and the record stays.
    EXPECT_EQ(failureOf([&] { route.restoreSavedRoute(); }), DomainError("SystemAudioRoute", 1, "disk full"));
    EXPECT_EQ(world.sim.defaultDevice(true), 10u);
    EXPECT_EQ(route.snapshot(), std::nullopt);
    EXPECT_EQ(world.stored(), both);

    // Once the store takes writes, the next start forgets the kept record
    // without switching anything the user has since chosen.
    world.platform.defaults.failWrites(std::nullopt);
    world.sim.setDefaultDevice(true, 40);
    world.sim.clearEvents();
    world.route().restoreSavedRoute();
    EXPECT_EQ(world.defaultSets(), 0u);
    EXPECT_EQ(world.sim.defaultDevice(true), 40u);
    EXPECT_EQ(world.stored(), std::nullopt);
}

TEST(SystemAudioRoute, AStrandedVirtualMicrophoneIsGivenBackOnceUnlessAnotherCopyHoldsIt)
{
    // The virtual microphone is the default and nothing recorded it: the
    // first real microphone takes its place, once.
    RouteWorld world;
    world.sim.setDefaultDevice(true, 20);
    auto route = world.route();
    const auto reclaimed = route.reclaimStrandedInput();
    ASSERT_TRUE(reclaimed);
    EXPECT_EQ(reclaimed->uid, "builtin-mic");
    EXPECT_EQ(world.sim.defaultDevice(true), 10u);
    EXPECT_EQ(route.reclaimStrandedInput(), std::nullopt);

    // A server that applies each switch a while after accepting it, in the
    // order sent: the takeover that follows the give-back is sent too, so
    // the virtual microphone is the default once both have landed, with the
    // microphone given back as the one to return to.
    world.sim.setDefaultDevice(true, 20);
    std::vector<AudioObjectId> queued;
    auto slow = world.route([&queued](AudioObjectId device, bool) { queued.push_back(device); });
    ASSERT_TRUE(slow.reclaimStrandedInput());
    slow.routeInput(world.listed(20), "builtin-mic");
    EXPECT_EQ(queued, (std::vector<AudioObjectId>{10, 20}));
    EXPECT_EQ(slow.snapshot(), (Snapshot{"builtin-mic", "", virtualMicUID, ""}));
    world.platform.defaults.remove(key);

    // A start that has a record gives back by the record instead.
    world.sim.setDefaultDevice(true, 20);
    world.store(R"({"oldInput":"usb-mic","oldOutput":"","routedInput":"com.parlaro.virtualmic","routedOutput":""})");
    EXPECT_EQ(world.route().reclaimStrandedInput(), std::nullopt);
    world.platform.defaults.remove(key);

    // Another copy of the program runs: the input is its to hold.
    world.sim.addProcess(sim::SimProcess{.id = 900, .pid = 5151, .bundleID = ownApplicationID});
    EXPECT_EQ(world.route().reclaimStrandedInput(), std::nullopt);
    EXPECT_EQ(world.sim.defaultDevice(true), 20u);
    world.sim.removeObject(900);

    // No microphone: the speakers' monitor.
    world.sim.removeObject(10);
    world.sim.removeObject(40);
    world.sim.addDevice(test::simDevice(50, "speakers.monitor").named("Monitor of speakers").input({2}).unlisted());
    const auto monitor = world.route().reclaimStrandedInput();
    ASSERT_TRUE(monitor);
    EXPECT_EQ(monitor->uid, "speakers.monitor");
    EXPECT_EQ(monitor->name, "Monitor of speakers");
    EXPECT_EQ(world.sim.defaultDevice(true), 50u);
}

}  // namespace
}  // namespace parlaro
