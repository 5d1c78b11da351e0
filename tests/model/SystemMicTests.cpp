#include "ModelWorld.h"
#include "model/ModelDependencies.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace parlaro {
namespace {

using test::ModelWorld;
using Log = std::vector<std::string>;

// How often the default input was switched to the device.
std::size_t switchesTo(ModelWorld& world, AudioObjectId device)
{
    const Log log = world.takeLog();
    return static_cast<std::size_t>(
        std::count(log.begin(), log.end(), "route default input " + std::to_string(device)));
}

void failSwitches(ModelWorld& world, int times = -1)
{
    world.audio.fail(audioSystemObject, "dIn "_fcc, sim::AudioOperation::setPropertyData, AudioStatuses::unspecified,
                     times);
}

TEST(ModelSystemMic, SwitchedOffNothingEverTakesTheDefaultInput)
{
    ModelWorld world;
    world.platform.defaults.set("systemMicEnabled", false);
    world.addMicrophone(10, "usb-mic", "USB");
    world.setDefaultInput(10);
    auto model = world.make();
    ModelTestAccess::prepareSession(*model);
    world.addVirtualDriver();
    ModelTestAccess::refreshDevices(*model);
    ModelTestAccess::applySystemMic(*model);
    ModelTestAccess::recoverAudioDevices(*model);
    EXPECT_EQ(world.takeLog(), Log{});
    EXPECT_EQ(world.audio.defaultDevice(true), 10u);
    EXPECT_TRUE(ModelTestAccess::systemMic(*model).pending.get());
}

TEST(ModelSystemMic, AMissingDriverLeavesTheTakeoverPendingUntilARefreshFindsIt)
{
    ModelWorld world;
    world.addMicrophone(10, "usb-mic", "USB");
    world.setDefaultInput(10);
    auto model = world.make();
    ModelTestAccess::prepareSession(*model);
    EXPECT_TRUE(ModelTestAccess::systemMic(*model).pending.get());
    EXPECT_EQ(ModelTestAccess::launchInputUID(*model).get(), "usb-mic");

    // Not while an installation runs.
    world.addVirtualDriver();
    test::given.set(model->isInstallingDriver, true);
    ModelTestAccess::refreshDevices(*model);
    EXPECT_EQ(switchesTo(world, 50), 0u);
    EXPECT_TRUE(ModelTestAccess::systemMic(*model).pending.get());

    test::given.set(model->isInstallingDriver, false);
    ModelTestAccess::refreshDevices(*model);
    EXPECT_EQ(switchesTo(world, 50), 1u);
    EXPECT_FALSE(ModelTestAccess::systemMic(*model).pending.get());
    EXPECT_TRUE(ModelTestAccess::systemMic(*model).wasDefault.get());
    EXPECT_EQ(world.route->snapshot()->oldInput, "usb-mic");

    // Switched: a later refresh leaves the user's own choice alone.
    world.setDefaultInput(10);
    ModelTestAccess::refreshDevices(*model);
    EXPECT_EQ(switchesTo(world, 50), 0u);
    EXPECT_FALSE(ModelTestAccess::systemMic(*model).wasDefault.get());
}

TEST(ModelSystemMic, AFailedSwitchIsShownOncePerSwitchingOn)
{
    ModelWorld world;
    world.addMicrophone(10, "usb-mic", "USB");
    world.addVirtualDriver();
    world.setDefaultInput(10);
    failSwitches(world);
    auto model = world.make();
    ModelTestAccess::prepareSession(*model);
    const auto shown = model->errorMessage.get();
    ASSERT_TRUE(shown);
    EXPECT_TRUE(shown->starts_with("无法切换系统麦克风（")) << *shown;
    EXPECT_TRUE(ModelTestAccess::systemMic(*model).pending.get());

    // Tried again at the next refresh (the log holds both tries), silently.
    model->dismissError();
    ModelTestAccess::refreshDevices(*model);
    EXPECT_EQ(switchesTo(world, 50), 2u);
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);

    // Off puts the saved route back; on again allows one more alert.
    model->systemMicEnabledDidChange(false);
    EXPECT_EQ(world.platform.defaults.get<bool>("systemMicEnabled"), false);
    EXPECT_FALSE(ModelTestAccess::systemMic(*model).pending.get());
    model->systemMicEnabledDidChange(true);
    EXPECT_EQ(model->errorMessage.get(), shown);
    model->dismissError();
    ModelTestAccess::applySystemMic(*model);
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);

    // Once the switch works it happens in the next check.
    world.audio.clearFailures();
    world.takeLog();
    ModelTestAccess::applySystemMic(*model);
    EXPECT_EQ(world.audio.defaultDevice(true), 50u);
    EXPECT_FALSE(ModelTestAccess::systemMic(*model).pending.get());
}

TEST(ModelSystemMic, ASwitchTheServerAppliesLateCountsAndIsRecorded)
{
    ModelWorld world;
    world.addMicrophone(10, "usb-mic", "USB");
    world.addVirtualDriver();
    world.setDefaultInput(10);
    world.audio.setDefaultSwitch(true, sim::DefaultSwitch::ignored);
    auto model = world.make();
    ModelTestAccess::prepareSession(*model);
    // Accepted and not applied yet: no failure, and already recorded.
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);
    EXPECT_TRUE(ModelTestAccess::systemMic(*model).pending.get());
    EXPECT_EQ(SystemAudioRoute::savedSnapshot(world.platform.defaults),
              (SystemAudioRoute::Snapshot{"usb-mic", "", virtualMicUID, ""}));

    // Applied a moment later: the next check takes it as done, and nothing
    // is shown once the settling time has passed.
    world.setDefaultInput(50);
    ModelTestAccess::refreshDevices(*model);
    EXPECT_FALSE(ModelTestAccess::systemMic(*model).pending.get());
    world.runtime.clock().advance(ModelTestAccess::systemMicSettleSeconds + 1);
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);
    world.audio.setDefaultSwitch(true, sim::DefaultSwitch::takesEffect);
    model->shutdown();
    EXPECT_EQ(world.audio.defaultDevice(true), 10u);

    // Never applied: the user is told once the settling time is over, and
    // the server that applies it after all still finds it recorded.
    ModelWorld never;
    never.addMicrophone(10, "usb-mic", "USB");
    never.addVirtualDriver();
    never.setDefaultInput(10);
    never.audio.setDefaultSwitch(true, sim::DefaultSwitch::ignored);
    auto stuck = never.make();
    ModelTestAccess::prepareSession(*stuck);
    never.runtime.clock().advance(ModelTestAccess::systemMicSettleSeconds - 0.5);
    EXPECT_EQ(stuck->errorMessage.get(), std::nullopt);
    never.runtime.clock().advance(1);
    EXPECT_EQ(stuck->errorMessage.get(), "声音服务器接受了系统麦克风的切换，但没有生效");
    never.setDefaultInput(50);
    never.audio.setDefaultSwitch(true, sim::DefaultSwitch::takesEffect);
    stuck->shutdown();
    EXPECT_EQ(never.audio.defaultDevice(true), 10u);
}

TEST(ModelSystemMic, AVirtualMicrophoneBackUnderANewIdIsTakenAgainAtOnce)
{
    ModelWorld world;
    world.addMicrophone(10, "usb-mic", "USB");
    world.addVirtualDriver();
    world.setDefaultInput(10);
    auto model = world.make();
    ModelTestAccess::prepareSession(*model);
    EXPECT_EQ(switchesTo(world, 50), 1u);

    // The driver restarts: the device is gone, then back as 52, and the
    // system fell back to the microphone meanwhile.
    world.audio.removeObject(50);
    world.setDefaultInput(10);
    ModelTestAccess::refreshDevices(*model);
    EXPECT_EQ(ModelTestAccess::systemMic(*model).lastVirtual.get(), std::nullopt);
    world.audio.addDevice({.id = 52,
                           .uid = virtualMicUID,
                           .name = "wenmora",
                           .inputBuffers = {2},
                           .outputBuffers = {2},
                           .transportType = "virt"_fcc});
    ModelTestAccess::refreshDevices(*model);
    EXPECT_EQ(switchesTo(world, 52), 1u);
    EXPECT_EQ(world.audio.defaultDevice(true), 52u);
    EXPECT_FALSE(ModelTestAccess::systemMic(*model).pending.get());
}

// A server may apply an acknowledged switch only after the check that
// followed it gave up: the takeover failed, left no record, and the virtual
// microphone became the default input all the same. Quitting then still
// gives back what the user had, a microphone or a speaker's monitor.
TEST(ModelSystemMic, ASwitchAppliedAfterItFailedIsGivenBackAtQuit)
{
    struct Case {
        const char* name;
        bool microphone;
    };
    for (const Case& c : {Case{"microphone", true}, Case{"monitor", false}}) {
        SCOPED_TRACE(c.name);
        ModelWorld world;
        if (c.microphone)
            world.addMicrophone(10, "usb-mic", "USB");
        else
            world.audio.addDevice({.id = 10, .uid = "speakers.monitor", .inputBuffers = {2}, .listed = false});
        world.setDefaultInput(10);
        world.addVirtualDriver();
        world.audio.setDefaultSwitch(true, sim::DefaultSwitch::ignored);
        auto model = world.make();
        ModelTestAccess::prepareSession(*model);
        EXPECT_EQ(ModelTestAccess::launchInputUID(*model).get(), c.microphone ? "usb-mic" : "speakers.monitor");
        EXPECT_TRUE(ModelTestAccess::systemMic(*model).pending.get());
        // Accepted: recorded before it lands.
        EXPECT_EQ(world.route->snapshot(),
                  (SystemAudioRoute::Snapshot{ModelTestAccess::launchInputUID(*model).get().value_or(""), "",
                                              virtualMicUID, ""}));

        // The server applies it late; the model quits before its next check.
        world.audio.setDefaultSwitch(true, sim::DefaultSwitch::takesEffect);
        world.setDefaultInput(50);
        model->shutdown();
        EXPECT_EQ(world.audio.defaultDevice(true), 10u);
        EXPECT_EQ(world.route->snapshot(), std::nullopt);
    }
}

// A server that stopped announcing new defaults still applies them; the
// program's own route asks it, so the takeover counts with no notice, its
// record stays while the virtual microphone is the default, and the quit
// gives the user's microphone back before the record goes.
TEST(ModelSystemMic, AServerSilentAboutNewDefaultsIsAskedItself)
{
    ModelWorld world;
    world.addMicrophone(10, "usb-mic", "USB");
    world.addVirtualDriver();
    world.setDefaultInput(10);
    world.audio.setDefaultAnnounced(true, false);
    auto model =
        world.make([&](AppModel::Dependencies& d) { d.systemRoute = makeSystemAudioRoute(world.platform.defaults); });
    ModelTestAccess::prepareSession(*model);
    EXPECT_EQ(world.audio.defaultDevice(true), 50u);
    EXPECT_FALSE(ModelTestAccess::systemMic(*model).pending.get());
    ModelTestAccess::refreshDevices(*model);
    world.runtime.clock().advance(ModelTestAccess::systemMicSettleSeconds + 1);
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);
    EXPECT_EQ(SystemAudioRoute::savedSnapshot(world.platform.defaults),
              (SystemAudioRoute::Snapshot{"usb-mic", "", virtualMicUID, ""}));

    model->shutdown();
    EXPECT_EQ(world.audio.defaultDevice(true), 10u);
    EXPECT_EQ(SystemAudioRoute::savedSnapshot(world.platform.defaults), std::nullopt);
}

// A switch the server accepted and applied a while later, unannounced: the
// server is asked meanwhile, so the takeover counts at the next ask, not
// at the end of the settling time. At that end the switch is called
// unapplied only when the server, asked, names another default.
TEST(ModelSystemMic, AQuietlyLateSwitchIsFoundByAskingAndOnlyAnAnsweredAskCallsItUnapplied)
{
    enum class Server { appliesAfterASecond, neverApplies, cannotBeAsked };
    for (const Server server : {Server::appliesAfterASecond, Server::neverApplies, Server::cannotBeAsked}) {
        SCOPED_TRACE(static_cast<int>(server));
        ModelWorld world;
        world.addMicrophone(10, "usb-mic", "USB");
        world.addVirtualDriver();
        world.setDefaultInput(10);
        world.audio.setDefaultAnnounced(true, false);
        world.audio.setDefaultSwitch(true, sim::DefaultSwitch::ignored);
        auto model = world.make(
            [&](AppModel::Dependencies& d) { d.systemRoute = makeSystemAudioRoute(world.platform.defaults); });
        ModelTestAccess::prepareSession(*model);
        ASSERT_TRUE(ModelTestAccess::systemMic(*model).pending.get());
        world.runtime.clock().advance(1);
        if (server == Server::appliesAfterASecond)
            world.audio.setDefaultDevice(true, 50);
        if (server == Server::cannotBeAsked)
            world.audio.fail(audioSystemObject, "dIn "_fcc, sim::AudioOperation::getPropertyData,
                             AudioStatuses::unanswered);
        world.runtime.clock().advance(ModelTestAccess::systemMicCheckSeconds);
        EXPECT_EQ(ModelTestAccess::systemMic(*model).pending.get(), server != Server::appliesAfterASecond);
        world.runtime.clock().advance(ModelTestAccess::systemMicSettleSeconds);
        EXPECT_EQ(model->errorMessage.get(),
                  server == Server::neverApplies ? std::optional(SystemAudioRoute::unappliedSwitchText(true))
                                                 : std::nullopt);
    }
}

// At quit nothing is taken over that the server did not switch by itself.
TEST(ModelSystemMic, AQuitAfterAFailedSwitchLeavesTheDefaultInputAlone)
{
    ModelWorld world;
    world.addMicrophone(10, "usb-mic", "USB");
    world.setDefaultInput(10);
    world.addVirtualDriver();
    failSwitches(world);
    auto model = world.make();
    ModelTestAccess::prepareSession(*model);
    world.takeLog();
    model->shutdown();
    EXPECT_EQ(switchesTo(world, 50), 0u);
    EXPECT_EQ(world.audio.defaultDevice(true), 10u);
}

}  // namespace
}  // namespace parlaro
