#include "ModelWorld.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace parlaro {
namespace {

using test::ModelWorld;
using Log = std::vector<std::string>;

std::vector<AudioObjectId> ids(const std::vector<AudioDevice>& devices)
{
    std::vector<AudioObjectId> result;
    for (const AudioDevice& device : devices)
        result.push_back(device.id);
    return result;
}

// What the own-voice forwarder was asked to do.
Log forwarding(ModelWorld& world)
{
    Log events;
    for (const std::string& event : world.takeLog()) {
        if (event.starts_with("directVoice"))
            events.push_back(event);
    }
    return events;
}

void addVirtualMic(ModelWorld& world, AudioObjectId id)
{
    world.audio.addDevice({.id = id,
                           .uid = virtualMicUID,
                           .name = "wenmora",
                           .inputBuffers = {2},
                           .outputBuffers = {2},
                           .transportType = "virt"_fcc});
}

// Own voice running during a call on microphone 10 into the injection device.
std::shared_ptr<AppModel> forwardingModel(ModelWorld& world)
{
    world.addMicrophone(10, "usb-mic", "USB");
    world.addOutput(30, "speakers", "Speakers");
    world.addVirtualDriver();
    auto model = world.make();
    ModelTestAccess::refreshDevices(*model);
    test::given.set(model->micConfirmed, true).set(model->originalVoiceOn, true);
    test::given.set(model->callActive, true);
    world.run([model] { return ModelTestAccess::startOriginalVoice(*model); });
    EXPECT_TRUE(ModelTestAccess::forwardingActive(*model).get());
    world.takeLog();
    return model;
}

TEST(ModelDevices, ListsKeepPhysicalInputsAndEveryOutputInPlatformOrder)
{
    ModelWorld world;
    world.addMicrophone(10, "usb-mic", "USB");
    world.addOutput(30, "speakers", "Speakers");
    world.audio.addDevice({.id = 40,
                           .uid = "loopback",
                           .name = "Loop",
                           .inputBuffers = {2},
                           .outputBuffers = {2},
                           .transportType = "virt"_fcc});
    world.addVirtualDriver();
    auto model = world.make();
    ModelTestAccess::refreshDevices(*model);

    EXPECT_EQ(ids(model->inputDevices.get()), (std::vector<AudioObjectId>{10}));
    EXPECT_EQ(ids(model->outputDevices.get()), (std::vector<AudioObjectId>{30, 40, 50, 51}));
    EXPECT_EQ(ModelTestAccess::virtualInputDevice(*model).get()->id, 50u);
    EXPECT_EQ(ModelTestAccess::virtualTapDevice(*model).get()->id, 51u);
    EXPECT_EQ(model->selectedInputID.get(), 10u);
    EXPECT_EQ(ModelTestAccess::selectedMicUID(*model).get(), "usb-mic");
    EXPECT_EQ(model->selectedVirtualOutputID.get(), 51u);
    EXPECT_EQ(model->selectedMonitorOutputID.get(), 30u);

    // A list read before the one in use changes nothing, not even the instant.
    const rt::Instant readAt = *ModelTestAccess::devicesReadAt(*model).get();
    ModelTestAccess::refreshDevices(*model, ModelTestAccess::DeviceReading{{}, readAt - 0.5});
    EXPECT_EQ(ids(model->inputDevices.get()), (std::vector<AudioObjectId>{10}));
    EXPECT_EQ(ModelTestAccess::devicesReadAt(*model).get(), readAt);

    // An empty list clears both lists and both output selections.
    ModelTestAccess::refreshDevices(*model, ModelTestAccess::DeviceReading{{}, readAt + 0.5});
    EXPECT_TRUE(model->inputDevices.get().empty());
    EXPECT_TRUE(model->outputDevices.get().empty());
    EXPECT_EQ(model->selectedVirtualOutputID.get(), std::nullopt);
    EXPECT_EQ(model->selectedMonitorOutputID.get(), std::nullopt);
    EXPECT_EQ(ModelTestAccess::devicesReadAt(*model).get(), readAt + 0.5);
    // No microphone had been confirmed.
    EXPECT_FALSE(model->showMicCheck.get());
}

TEST(ModelDevices, TheChosenMicrophoneFollowsItsUIDAndAVanishedOneOpensTheCheck)
{
    ModelWorld world;
    auto model = forwardingModel(world);
    world.addMicrophone(11, "desk-mic", "Desk");
    world.addMicrophone(12, "studio-mic", "Studio");
    ModelTestAccess::refreshDevices(*model);
    EXPECT_EQ(model->selectedInputID.get(), 10u);

    // Plugged in again under a new id: still chosen, still confirmed.
    world.audio.removeObject(10);
    world.addMicrophone(13, "usb-mic", "USB");
    ModelTestAccess::refreshDevices(*model);
    EXPECT_EQ(model->selectedInputID.get(), 13u);
    EXPECT_TRUE(model->micConfirmed.get());
    EXPECT_FALSE(model->showMicCheck.get());

    // Gone: the launch input takes over, forwarding stops, the check opens.
    test::given.set(ModelTestAccess::launchInputUID(*model), "studio-mic");
    world.takeLog();
    world.audio.removeObject(13);
    ModelTestAccess::refreshDevices(*model);
    EXPECT_EQ(model->selectedInputID.get(), 12u);
    EXPECT_EQ(ModelTestAccess::selectedMicUID(*model).get(), "studio-mic");
    EXPECT_FALSE(model->micConfirmed.get());
    EXPECT_FALSE(model->originalVoiceOn.get());
    EXPECT_FALSE(ModelTestAccess::forwardingActive(*model).get());
    EXPECT_EQ(forwarding(world), (Log{"directVoice stop"}));
    EXPECT_EQ(model->status.get(), "麦克风已断开，原声转发已关闭");
    EXPECT_EQ(model->micCheckReason.get(), "原来的麦克风已断开，请重新选择并确认。");
    EXPECT_TRUE(model->showMicCheck.get());
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);

    // Without a launch input the first one is taken; the microphone was not
    // confirmed, so the check is not raised again.
    test::given.set(model->showMicCheck, false).set(ModelTestAccess::launchInputUID(*model), "gone-mic");
    world.audio.removeObject(12);
    ModelTestAccess::refreshDevices(*model);
    EXPECT_EQ(model->selectedInputID.get(), model->inputDevices.get().front().id);
    EXPECT_FALSE(model->showMicCheck.get());
    // Own voice stays off when a microphone comes back.
    world.addMicrophone(10, "usb-mic", "USB");
    ModelTestAccess::refreshDevices(*model);
    EXPECT_FALSE(model->originalVoiceOn.get());
}

TEST(ModelDevices, ALostInjectionDeviceTurnsOwnVoiceOffWithAnAlert)
{
    ModelWorld world;
    auto model = forwardingModel(world);
    world.audio.removeObject(51);
    ModelTestAccess::refreshDevices(*model);
    EXPECT_EQ(model->errorMessage.get(), "虚拟麦克风已断开，原声转发已关闭。");
    EXPECT_EQ(model->selectedVirtualOutputID.get(), std::nullopt);
    EXPECT_FALSE(model->originalVoiceOn.get());
    EXPECT_FALSE(ModelTestAccess::forwardingActive(*model).get());

    // With own voice already off there is nothing to tell.
    model->dismissError();
    world.addVirtualDriver();
    ModelTestAccess::refreshDevices(*model);
    EXPECT_EQ(model->selectedVirtualOutputID.get(), 51u);
    world.audio.removeObject(51);
    ModelTestAccess::refreshDevices(*model);
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);
}

TEST(ModelDevices, TheMonitorIsKeptElseThePhysicalDefaultElseTheFirstPhysicalOutput)
{
    ModelWorld world;
    world.addVirtualDriver();
    world.addOutput(30, "speakers", "Speakers");
    world.addOutput(31, "headset", "Headset");
    world.audio.setDefaultDevice(false, 50);
    auto model = world.make();
    ModelTestAccess::refreshDevices(*model);
    // The default output is an own device.
    EXPECT_EQ(model->selectedMonitorOutputID.get(), 30u);

    // A listed choice stays, whatever the default.
    model->setSelectedMonitorOutputID(31);
    world.audio.setDefaultDevice(false, 30);
    ModelTestAccess::refreshDevices(*model);
    EXPECT_EQ(model->selectedMonitorOutputID.get(), 31u);

    // A vanished one gives way to the physical default.
    world.audio.removeObject(31);
    world.addOutput(32, "hdmi", "HDMI");
    world.audio.setDefaultDevice(false, 32);
    ModelTestAccess::refreshDevices(*model);
    EXPECT_EQ(model->selectedMonitorOutputID.get(), 32u);
}

TEST(ModelDevices, OwnVoiceIsReappliedOnlyWhenOneOfItsDevicesChanged)
{
    ModelWorld world;
    auto model = forwardingModel(world);

    ModelTestAccess::refreshDevices(*model);
    world.addMicrophone(11, "desk-mic", "Desk");
    ModelTestAccess::refreshDevices(*model);
    EXPECT_EQ(forwarding(world), Log{});

    // The virtual microphone came back under a new id.
    world.audio.removeObject(50);
    addVirtualMic(world, 52);
    ModelTestAccess::refreshDevices(*model);
    EXPECT_EQ(forwarding(world), (Log{"directVoice stop", "directVoice stop", "directVoice start 10>51"}));
    EXPECT_TRUE(ModelTestAccess::forwardingActive(*model).get());

    // The chosen microphone's record changed (its name), not its id.
    world.audio.store(10, {"lnam"_fcc}, AudioString("USB 2"));
    ModelTestAccess::refreshDevices(*model);
    EXPECT_EQ(forwarding(world), (Log{"directVoice stop", "directVoice stop", "directVoice start 10>51"}));
}

TEST(ModelDevices, CallWatchingPollsOnlyWithoutADriverWatch)
{
    ModelWorld world;
    world.addVirtualDriver(50, 51, false);
    int watches = 0;
    std::function<void()> onChange;
    auto model = world.make([&](AppModel::Dependencies& d) {
        d.callRouteInspector = [](std::optional<AudioObjectId>) { return CallMicrophoneRoute::idle; };
        d.driverObserver = [&](AudioObjectId device, std::function<void()> callback) -> AppModel::WatchObject {
            ++watches;
            if (device != 52)
                return nullptr;
            onChange = std::move(callback);
            return std::make_shared<int>(0);
        };
    });
    ModelTestAccess::startWatching(*model);
    world.runtime.runUntilIdle();
    EXPECT_EQ(watches, 0);  // the lists were not read yet
    ASSERT_TRUE(ModelTestAccess::callPoll(*model));
    ModelTestAccess::refreshDevices(*model);
    EXPECT_EQ(watches, 1);
    EXPECT_EQ(ModelTestAccess::driverWatchDevice(*model).get(), 50u);
    EXPECT_TRUE(ModelTestAccess::callPoll(*model));

    // The same device is not asked again; a new one with a watch ends polling.
    ModelTestAccess::refreshDevices(*model);
    EXPECT_EQ(watches, 1);
    const auto poll = ModelTestAccess::callPoll(*model);
    world.audio.removeObject(50);
    addVirtualMic(world, 52);
    ModelTestAccess::refreshDevices(*model);
    EXPECT_EQ(watches, 2);
    EXPECT_TRUE(ModelTestAccess::driverWatch(*model));
    EXPECT_FALSE(ModelTestAccess::callPoll(*model));
    EXPECT_TRUE(poll.isCancelled());

    // Its callback reaches the model only while the model lives.
    ASSERT_TRUE(onChange);
    onChange();
    world.runtime.runUntilIdle();
    EXPECT_TRUE(ModelTestAccess::callRecheck(*model));
    model.reset();
    onChange();
    world.runtime.runUntilIdle();
}

}  // namespace
}  // namespace parlaro
