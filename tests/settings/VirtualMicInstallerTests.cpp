#include "UiWorld.h"

#include "audio/AudioDevices.h"
#include "platform/OwnAudioIDs.h"
#include "platform/sim/SimAudioSystem.h"
#include "platform/sim/SimVirtualMicHost.h"
#include "settings/VirtualMicInstaller.h"

#include <gtest/gtest.h>

using namespace parlaro;
using namespace parlaro::settings;
using State = VirtualMicHost::State;

namespace {

// Runs an installation to its end; the failure it threw, if any.
std::optional<VirtualMicInstaller::Failure> install(test::UiWorld& world, rt::Async<void> (*run)(VirtualMicInstaller),
                                                    VirtualMicInstaller installer)
{
    std::optional<VirtualMicInstaller::Failure> failure;
    bool ended = false;
    rt::spawn([&, installer]() -> rt::Async<void> {
        try {
            co_await run(installer);
        } catch (const VirtualMicInstaller::Failure& error) {
            failure = error;
        }
        ended = true;
    });
    world.settle();
    EXPECT_TRUE(ended);
    return failure;
}

rt::Async<void> direct(VirtualMicInstaller installer)
{
    co_await installer.install();
}

}  // namespace

TEST(VirtualMicInstaller, UpdateIsDueOnlyForAnotherBuildsModules)
{
    test::UiWorld world;
    auto host = std::make_shared<sim::SimVirtualMicHost>("h1");
    VirtualMicInstaller installer(host);
    EXPECT_EQ(installer.state(), State::missing);
    EXPECT_FALSE(installer.needsUpdate()) << "absent modules are an installation, not an update";
    host->setLoadedHash("h1");
    EXPECT_EQ(installer.state(), State::current);
    EXPECT_FALSE(installer.needsUpdate());
    host->setLoadedHash("h0");
    EXPECT_TRUE(installer.needsUpdate());

    AppModel::Dependencies d;
    installer.useIn(d);
    EXPECT_TRUE(d.driverUpdateCheck());
    host->setLoadedHash("h1");
    EXPECT_FALSE(d.driverUpdateCheck());
}

TEST(VirtualMicInstaller, InstallingLoadsTheModulesAndTheDeviceAppears)
{
    test::UiWorld world;
    sim::SimAudioSystem audio;
    auto host = std::make_shared<sim::SimVirtualMicHost>("h1", &audio);
    EXPECT_FALSE(AudioDevices::deviceID(virtualMicUID).has_value());
    EXPECT_EQ(install(world, direct, VirtualMicInstaller(host)), std::nullopt);
    EXPECT_EQ(host->state(), State::current);
    EXPECT_TRUE(AudioDevices::deviceID(virtualMicUID).has_value());

    // An update reloads without a second device.
    host->setLoadedHash("h0");
    EXPECT_EQ(install(world, direct, VirtualMicInstaller(host)), std::nullopt);
    EXPECT_EQ(host->state(), State::current);
}

TEST(VirtualMicInstaller, AServerErrorIsTheFailureTextAndTheModelsClosureThrowsIt)
{
    test::UiWorld world;
    auto host = std::make_shared<sim::SimVirtualMicHost>("h1");
    host->failNextEnsure("Module initialization failed");
    const auto failure = install(world, direct, VirtualMicInstaller(host));
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(*failure, VirtualMicInstaller::Failure::failed("Module initialization failed"));
    EXPECT_EQ(failure->errorDescription(), "Module initialization failed");
    EXPECT_EQ(host->state(), State::missing);

    AppModel::Dependencies d;
    VirtualMicInstaller(host).useIn(d);
    host->failNextEnsure("Access denied");
    std::optional<std::string> thrown;
    rt::spawn([&]() -> rt::Async<void> {
        try {
            co_await d.ensureVirtualDevices(d.deviceSetupStep("anything"));
        } catch (const VirtualMicInstaller::Failure& error) {
            thrown = error.errorDescription();
        }
    });
    world.settle();
    EXPECT_EQ(thrown, "Access denied");
    EXPECT_TRUE(d.virtualDeviceSource.has_value()) << "the modules are always there to install";
}

TEST(VirtualMicInstaller, FailureTexts)
{
    test::UiWorld world;
    EXPECT_EQ(VirtualMicInstaller::Failure::failed("").errorDescription(), "系统没有完成操作");
    EXPECT_EQ(VirtualMicInstaller::Failure::failed("x").errorDescription(), "x");
    EXPECT_EQ(VirtualMicInstaller::Failure::cancelled().errorDescription(), "已取消");
    EXPECT_EQ(VirtualMicInstaller::Failure::cancelled(), VirtualMicInstaller::Failure::cancelled());
    EXPECT_NE(VirtualMicInstaller::Failure::failed("a"), VirtualMicInstaller::Failure::failed("b"));
}
