#include "ModelWorld.h"
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
    model->prepareSession();
    world.addVirtualDriver();
    model->refreshDevices();
    model->applySystemMic();
    model->recoverAudioDevices();
    EXPECT_EQ(world.takeLog(), Log{});
    EXPECT_EQ(world.audio.defaultDevice(true), 10u);
    EXPECT_TRUE(model->systemMicPending.get());
}

TEST(ModelSystemMic, AMissingDriverLeavesTheTakeoverPendingUntilARefreshFindsIt)
{
    ModelWorld world;
    world.addMicrophone(10, "usb-mic", "USB");
    world.setDefaultInput(10);
    auto model = world.make();
    model->prepareSession();
    EXPECT_TRUE(model->systemMicPending.get());
    EXPECT_EQ(model->launchInputUID.get(), "usb-mic");

    // Not while an installation runs.
    world.addVirtualDriver();
    ModelTestAccess::set(model->isInstallingDriver, true);
    model->refreshDevices();
    EXPECT_EQ(switchesTo(world, 50), 0u);
    EXPECT_TRUE(model->systemMicPending.get());

    ModelTestAccess::set(model->isInstallingDriver, false);
    model->refreshDevices();
    EXPECT_EQ(switchesTo(world, 50), 1u);
    EXPECT_FALSE(model->systemMicPending.get());
    EXPECT_TRUE(model->systemMicWasDefault.get());
    EXPECT_EQ(world.route->snapshot()->oldInput, "usb-mic");

    // Switched: a later refresh leaves the user's own choice alone.
    world.setDefaultInput(10);
    model->refreshDevices();
    EXPECT_EQ(switchesTo(world, 50), 0u);
    EXPECT_FALSE(model->systemMicWasDefault.get());
}

TEST(ModelSystemMic, AFailedSwitchIsShownOncePerSwitchingOn)
{
    ModelWorld world;
    world.addMicrophone(10, "usb-mic", "USB");
    world.addVirtualDriver();
    world.setDefaultInput(10);
    failSwitches(world);
    auto model = world.make();
    model->prepareSession();
    const auto shown = model->errorMessage.get();
    ASSERT_TRUE(shown);
    EXPECT_TRUE(shown->starts_with("无法切换系统麦克风（")) << *shown;
    EXPECT_TRUE(model->systemMicPending.get());

    // Tried again at the next refresh (the log holds both tries), silently.
    model->dismissError();
    model->refreshDevices();
    EXPECT_EQ(switchesTo(world, 50), 2u);
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);

    // Off puts the saved route back; on again allows one more alert.
    model->systemMicEnabledDidChange(false);
    EXPECT_EQ(world.platform.defaults.get<bool>("systemMicEnabled"), false);
    EXPECT_FALSE(model->systemMicPending.get());
    model->systemMicEnabledDidChange(true);
    EXPECT_EQ(model->errorMessage.get(), shown);
    model->dismissError();
    model->applySystemMic();
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);

    // Once the switch works it happens in the next check.
    world.audio.clearFailures();
    world.takeLog();
    model->applySystemMic();
    EXPECT_EQ(world.audio.defaultDevice(true), 50u);
    EXPECT_FALSE(model->systemMicPending.get());
}

TEST(ModelSystemMic, ASwitchTheServerAppliesLateCountsAndIsRecorded)
{
    ModelWorld world;
    world.addMicrophone(10, "usb-mic", "USB");
    world.addVirtualDriver();
    world.setDefaultInput(10);
    world.audio.setDefaultSwitch(true, sim::DefaultSwitch::ignored);
    auto model = world.make();
    model->prepareSession();
    // Accepted and not applied yet: no failure, and already recorded.
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);
    EXPECT_TRUE(model->systemMicPending.get());
    EXPECT_EQ(SystemAudioRoute::savedSnapshot(world.platform.defaults),
              (SystemAudioRoute::Snapshot{"usb-mic", "", virtualMicUID, ""}));

    // Applied a moment later: the next check takes it as done, and nothing
    // is shown once the settling time has passed.
    world.setDefaultInput(50);
    model->refreshDevices();
    EXPECT_FALSE(model->systemMicPending.get());
    world.runtime.clock().advance(AppModel::systemMicSettleSeconds + 1);
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
    stuck->prepareSession();
    never.runtime.clock().advance(AppModel::systemMicSettleSeconds - 0.5);
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
    model->prepareSession();
    EXPECT_EQ(switchesTo(world, 50), 1u);

    // The driver restarts: the device is gone, then back as 52, and the
    // system fell back to the microphone meanwhile.
    world.audio.removeObject(50);
    world.setDefaultInput(10);
    model->refreshDevices();
    EXPECT_EQ(model->systemMicLastVirtual.get(), std::nullopt);
    world.audio.addDevice({.id = 52,
                           .uid = virtualMicUID,
                           .name = "wenmora",
                           .inputBuffers = {2},
                           .outputBuffers = {2},
                           .transportType = "virt"_fcc});
    model->refreshDevices();
    EXPECT_EQ(switchesTo(world, 52), 1u);
    EXPECT_EQ(world.audio.defaultDevice(true), 52u);
    EXPECT_FALSE(model->systemMicPending.get());
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
        model->prepareSession();
        EXPECT_EQ(model->launchInputUID.get(), c.microphone ? "usb-mic" : "speakers.monitor");
        EXPECT_TRUE(model->systemMicPending.get());
        // Accepted: recorded before it lands.
        EXPECT_EQ(world.route->snapshot(),
                  (SystemAudioRoute::Snapshot{model->launchInputUID.get().value_or(""), "", virtualMicUID, ""}));

        // The server applies it late; the model quits before its next check.
        world.audio.setDefaultSwitch(true, sim::DefaultSwitch::takesEffect);
        world.setDefaultInput(50);
        model->shutdown();
        EXPECT_EQ(world.audio.defaultDevice(true), 10u);
        EXPECT_EQ(world.route->snapshot(), std::nullopt);
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
    model->prepareSession();
    world.takeLog();
    model->shutdown();
    EXPECT_EQ(switchesTo(world, 50), 0u);
    EXPECT_EQ(world.audio.defaultDevice(true), 10u);
}

}  // namespace
}  // namespace parlaro
