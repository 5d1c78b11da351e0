#include "ModelWorld.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

using test::ModelWorld;

constexpr const char* noPermission = "没有麦克风权限。请在「系统设置 → 隐私与安全性 → 麦克风」里打开 Parlaro。";

std::optional<AudioObjectId> metered(const std::optional<AudioDevice>& device)
{
    return device ? std::optional(device->id) : std::nullopt;
}

// Two microphones and the driver; how often the far-end route was worked out.
struct MeterWorld {
    ModelWorld world;
    int routeChecks = 0;
    std::shared_ptr<AppModel> model;

    MeterWorld(bool authorized = true)
    {
        world.microphoneAuthorized = authorized;
        world.addMicrophone(10, "usb-mic", "USB");
        world.addMicrophone(11, "desk-mic", "Desk");
        world.addVirtualDriver();
        model = world.make([this](AppModel::Dependencies& d) {
            d.speakerPlayback = [this](std::optional<AudioObjectId>) {
                ++routeChecks;
                return false;
            };
        });
        ModelTestAccess::refreshDevices(*model);
        routeChecks = 0;
    }
    std::optional<AudioObjectId> mic() const { return metered(world.meters->micDevice()); }
    std::optional<AudioObjectId> virtualMic() const { return metered(world.meters->virtualDevice()); }
};

TEST(ModelMeters, TapsRunOnlyWhileSomethingWorthMeteringCanBeSeen)
{
    MeterWorld w;
    auto& model = *w.model;
    test::given.set(model.callActive, true);
    ModelTestAccess::updateMeters(model);
    EXPECT_EQ(w.mic(), std::nullopt);  // the check has not enabled metering yet

    test::given.set(ModelTestAccess::metersEnabled(model), true);
    ModelTestAccess::updateMeters(model);
    EXPECT_EQ(w.mic(), 10u);
    EXPECT_EQ(w.virtualMic(), 50u);

    // The microphone check's preview is metered instead of the choice.
    test::given.set(ModelTestAccess::meterPreviewMicID(model), 11);
    ModelTestAccess::updateMeters(model);
    EXPECT_EQ(w.mic(), 11u);
    test::given.set(ModelTestAccess::meterPreviewMicID(model), std::nullopt);
    ModelTestAccess::updateMeters(model);
    EXPECT_EQ(w.mic(), 10u);

    model.setMetersVisible(false);
    EXPECT_EQ(w.mic(), std::nullopt);
    EXPECT_EQ(w.virtualMic(), std::nullopt);
    model.setMetersVisible(true);
    EXPECT_EQ(w.mic(), 10u);

    // Nothing worth metering: no call, check, hear test or free listening.
    test::given.set(model.callActive, false);
    ModelTestAccess::updateMeters(model);
    EXPECT_EQ(w.mic(), std::nullopt);
    test::given.set(model.showMicCheck, true);
    ModelTestAccess::updateMeters(model);
    EXPECT_EQ(w.mic(), 10u);

    // Without permission the taps are neither started nor stopped.
    test::given.set(model.micAuthorized, false).set(model.showMicCheck, false);
    ModelTestAccess::updateMeters(model);
    EXPECT_EQ(w.mic(), 10u);
    w.world.meters->stop();
    test::given.set(model.showMicCheck, true);
    ModelTestAccess::updateMeters(model);
    EXPECT_EQ(w.mic(), std::nullopt);
}

TEST(ModelMicPermission, EveryRefusalIsToldAndAGrantStartsTheMeters)
{
    MeterWorld w(false);
    auto& model = *w.model;
    EXPECT_FALSE(model.micAuthorized.get());
    test::given.set(ModelTestAccess::metersEnabled(model), true).set(model.showMicCheck, true);

    w.world.run([&] { return model.requestMicPermission(); });
    EXPECT_FALSE(model.micAuthorized.get());
    EXPECT_EQ(model.errorMessage.get(), noPermission);
    model.dismissError();
    w.world.run([&] { return model.requestMicPermission(); });
    EXPECT_EQ(model.errorMessage.get(), noPermission);
    EXPECT_EQ(w.mic(), std::nullopt);

    model.dismissError();
    w.world.microphoneAuthorized = true;
    w.world.run([&] { return model.requestMicPermission(); });
    EXPECT_TRUE(model.micAuthorized.get());
    EXPECT_EQ(model.errorMessage.get(), std::nullopt);
    EXPECT_EQ(w.mic(), 10u);
}

TEST(ModelMicPermission, ActivationRereadsTheAccessAndActsOnlyOnAChange)
{
    MeterWorld w;
    auto& model = *w.model;
    test::given.set(ModelTestAccess::metersEnabled(model), true).set(model.showMicCheck, true);

    model.refreshMicAuthorization();
    EXPECT_EQ(w.mic(), std::nullopt);
    EXPECT_EQ(w.routeChecks, 0);

    // Withdrawn in the settings meanwhile: no message, the route is worked out.
    w.world.microphoneAuthorized = false;
    model.refreshMicAuthorization();
    EXPECT_FALSE(model.micAuthorized.get());
    EXPECT_EQ(model.errorMessage.get(), std::nullopt);
    EXPECT_EQ(w.routeChecks, 1);

    w.world.microphoneAuthorized = true;
    model.refreshMicAuthorization();
    EXPECT_TRUE(model.micAuthorized.get());
    EXPECT_EQ(w.mic(), 10u);
    EXPECT_EQ(w.routeChecks, 2);
}

}  // namespace
}  // namespace parlaro
