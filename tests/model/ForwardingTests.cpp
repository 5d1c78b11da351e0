#include "ModelWorld.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

using test::ModelWorld;
using Log = std::vector<std::string>;

// Own voice on and confirmed, microphone 10, the driver's devices listed.
std::shared_ptr<AppModel> armedModel(ModelWorld& world)
{
    world.addMicrophone(10, "usb-mic", "USB");
    world.addOutput(30, "speakers", "Speakers");
    world.addVirtualDriver();
    auto model = world.make();
    ModelTestAccess::refreshDevices(*model);
    test::given.set(model->micConfirmed, true).set(model->originalVoiceOn, true);
    world.takeLog();
    return model;
}

void follow(ModelWorld& world, const std::shared_ptr<AppModel>& model)
{
    world.run([model] { return ModelTestAccess::startOriginalVoice(*model); });
}

TEST(ModelForwarding, RunsOnlyWhileACallOrAHearTestNeedsIt)
{
    ModelWorld world;
    auto model = armedModel(world);
    follow(world, model);
    EXPECT_EQ(world.takeLog(), Log{});
    EXPECT_FALSE(ModelTestAccess::forwardingActive(*model).get());

    test::given.set(model->callActive, true);
    follow(world, model);
    follow(world, model);
    EXPECT_EQ(world.takeLog(), (Log{"directVoice stop", "directVoice start 10>51"}));
    EXPECT_TRUE(ModelTestAccess::forwardingActive(*model).get());

    // The call's end stops it; own voice stays armed for the next call.
    test::given.set(model->callActive, false);
    follow(world, model);
    EXPECT_EQ(world.takeLog(), (Log{"directVoice stop"}));
    EXPECT_FALSE(ModelTestAccess::forwardingActive(*model).get());
    EXPECT_TRUE(model->originalVoiceOn.get());

    test::given.set(model->isHearTesting, true);
    follow(world, model);
    EXPECT_TRUE(ModelTestAccess::forwardingActive(*model).get());
    test::given.set(model->isHearTesting, false);
    follow(world, model);

    // An output that is not the driver's is never forwarded into, silently.
    world.takeLog();
    test::given.set(model->callActive, true).set(model->selectedVirtualOutputID, 30);
    follow(world, model);
    EXPECT_EQ(world.takeLog(), Log{});
    EXPECT_EQ(model->status.get(), "");
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);
}

TEST(ModelForwarding, AForwarderFailureTurnsOwnVoiceOffAndIsToldOnce)
{
    ModelWorld world;
    auto model = armedModel(world);
    test::given.set(model->callActive, true);
    follow(world, model);
    ASSERT_TRUE(world.directVoice->onStop);
    const auto report = world.directVoice->onStop;
    const std::string their = model->theirLanguage.get().displayName();

    report("R");
    EXPECT_EQ(model->status.get(), "原声转发已停止，对方现在只听到" + their + "翻译");
    EXPECT_EQ(model->errorMessage.get(),
              "「对方听到我的原声」已自动关闭：R\n对方现在只听到" + their + "翻译。检查麦克风后可以重新打开。（VM-6）");
    EXPECT_FALSE(model->originalVoiceOn.get());
    EXPECT_FALSE(ModelTestAccess::forwardingActive(*model).get());

    model->dismissError();
    test::given.set(model->status, "");
    report("R");
    EXPECT_EQ(model->errorMessage.get(), std::nullopt);
    EXPECT_EQ(model->status.get(), "");

    // A start the forwarder refuses is reported the same way.
    test::given.set(model->originalVoiceOn, true);
    world.directVoice->startError = DomainError("DirectVoice", 1, "同一设备");
    follow(world, model);
    EXPECT_EQ(model->errorMessage.get(),
              "「对方听到我的原声」已自动关闭：同一设备\n对方现在只听到" + their
                  + "翻译。检查麦克风后可以重新打开。（VM-6）");
    EXPECT_FALSE(model->originalVoiceOn.get());

    // A late report after the model is gone reaches nobody.
    model.reset();
    report("late");
}

}  // namespace
}  // namespace parlaro
