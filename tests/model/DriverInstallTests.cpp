#include "ModelWorld.h"

#include "model/ModelDependencies.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"
#include "model/VirtualMicInstallerFailure.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

using test::ModelWorld;
using Failure = VirtualMicInstallerFailure;

// The privileged command runner: notes each command, may wait for the test,
// then fails as told or returns.
struct Installer {
    std::vector<std::string> commands;
    bool hold = false;
    std::vector<rt::Continuation<void>> waiting;
    std::exception_ptr failure;
};

rt::Async<void> runCommand(std::shared_ptr<Installer> installer, std::string command)
{
    installer->commands.push_back(std::move(command));
    if (installer->hold)
        co_await rt::withContinuation<void>(
            [installer](rt::Continuation<void> go) { installer->waiting.push_back(go); });
    if (installer->failure)
        std::rethrow_exception(installer->failure);
}

// A model with a microphone and headphones but no driver yet, a driver copy
// in its resources and a takeover of the default input waiting for it.
struct InstallWorld {
    ModelWorld world;
    std::shared_ptr<Installer> installer = std::make_shared<Installer>();
    std::shared_ptr<AppModel> model;
    std::vector<rt::Instant> refreshes;
    int alerts = 0;
    rt::Subscription refreshWatch;
    rt::Subscription alertWatch;
    rt::Instant t0;

    explicit InstallWorld(const std::function<void(AppModel::Dependencies&)>& adjust = {})
    {
        world.addMicrophone(10, "usb-mic", "USB");
        world.addOutput(30, "speakers", "Speakers");
        model = world.make([&](AppModel::Dependencies& d) {
            d.ensureVirtualDevices = [installer = installer](std::string command) {
                return runCommand(installer, std::move(command));
            };
            d.virtualDeviceSource = "/opt/parlaro/wenmora.driver";
            d.driverVersionCheck = []() -> std::optional<std::string> { return "2.0"; };
            if (adjust)
                adjust(d);
        });
        ModelTestAccess::prepareSession(*model);
        model->openInstallSheet();
        world.runtime.runUntilIdle();
        // The install starts later than the launch's refresh.
        world.runtime.clock().advance(1.0);
        t0 = world.runtime.clock().now();
        refreshWatch = ModelTestAccess::devicesReadAt(*model).subscribe(
            [this] { refreshes.push_back(*ModelTestAccess::devicesReadAt(*model).get()); });
        alertWatch = model->errorMessage.subscribe([this] { alerts += model->errorMessage.get() ? 1 : 0; });
    }
    rt::TaskHandle<> install()
    {
        auto task = rt::spawn([m = model]() -> rt::Async<void> { co_await m->installVirtualMicDriver(); });
        world.runtime.runUntilIdle();
        return task;
    }
    void at(double seconds) { world.runtime.clock().advanceTo(t0 + seconds); }
};

TEST(ModelDriver, TheUpdateCheckAndTheVersionCountOnlyWithTheDriverThere)
{
    ModelWorld world;
    auto model = world.make([](AppModel::Dependencies& d) {
        d.driverUpdateCheck = [] { return true; };
        d.driverVersionCheck = []() -> std::optional<std::string> { return "1.0"; };
    });
    test::given.set(model->virtualMicNeedsUpdate, true);
    test::given.set(ModelTestAccess::loadedDriverVersion(*model), "0.9");
    model->checkDriverUpdate();
    EXPECT_FALSE(model->virtualMicNeedsUpdate.get());
    EXPECT_EQ(ModelTestAccess::loadedDriverVersion(*model).get(), std::nullopt);

    world.addVirtualDriver();
    ModelTestAccess::refreshDevices(*model);
    model->checkDriverUpdate();
    EXPECT_TRUE(model->virtualMicNeedsUpdate.get());
    EXPECT_EQ(ModelTestAccess::loadedDriverVersion(*model).get(), "1.0");
}

TEST(ModelDriver, AnInstallThatDoesNotRunEndsWithItsOwnTextAndTheSheetOpen)
{
    {
        InstallWorld w([](AppModel::Dependencies& d) { d.virtualDeviceSource = std::nullopt; });
        w.install();
        EXPECT_EQ(w.model->errorMessage.get(), "软件包里缺少 wenmora 音频设备驱动，请重新构建或下载完整的软件。");
        EXPECT_TRUE(w.installer->commands.empty());
        EXPECT_EQ(w.model->status.get(), "");
    }
    {
        InstallWorld w;
        w.installer->hold = true;
        w.install();
        w.install();
        EXPECT_EQ(w.installer->commands, (std::vector<std::string>{"install /opt/parlaro/wenmora.driver"}));
        EXPECT_TRUE(w.model->isInstallingDriver.get());
        EXPECT_EQ(w.model->status.get(), "正在安装 wenmora 音频设备…");

        w.installer->failure = std::make_exception_ptr(Failure::cancelled());
        w.installer->waiting.front().resume();
        w.world.runtime.runUntilIdle();
        EXPECT_EQ(w.model->status.get(), "已取消安装。没有 wenmora 音频设备，对方听不到翻译。（VM-4）");
        EXPECT_EQ(w.alerts, 0);
        EXPECT_FALSE(w.model->isInstallingDriver.get());
        EXPECT_TRUE(w.model->showInstallSheet.get());
    }
    for (const auto& [error, text] : {std::pair{std::make_exception_ptr(Failure::failed("E")), std::string("E")},
                                      {std::make_exception_ptr(Failure::failed("")), "系统没有完成操作"},
                                      {std::make_exception_ptr(DomainError("Process", 2, "E2")), "E2"}}) {
        InstallWorld w;
        w.installer->failure = error;
        w.install();
        EXPECT_EQ(w.model->status.get(), "安装失败");
        EXPECT_EQ(w.model->errorMessage.get(), "安装 wenmora 音频设备失败：" + text + "（VM-5）");
        EXPECT_FALSE(w.model->isInstallingDriver.get());
        EXPECT_TRUE(w.model->showInstallSheet.get());
    }
}

TEST(ModelDriver, DevicesThatNeverAppearAreAwaitedFifteenSecondsInHalfSecondSteps)
{
    InstallWorld w;
    auto task = w.install();
    // Cancelling the caller does not make the wait spin.
    task.cancel();
    w.at(14.9);
    EXPECT_TRUE(w.model->isInstallingDriver.get());
    w.at(20.0);
    ASSERT_EQ(w.refreshes.size(), 31u);
    for (std::size_t i = 0; i < w.refreshes.size(); ++i)
        EXPECT_EQ(w.refreshes[i], w.t0 + 0.5 * static_cast<double>(i)) << i;
    EXPECT_EQ(w.model->status.get(), "驱动已安装，但系统尚未识别");
    EXPECT_EQ(w.model->errorMessage.get(),
              "wenmora 音频设备已安装，但系统暂时没有识别到。请重启电脑后再打开本软件。（VM-3）");
    EXPECT_EQ(w.alerts, 1);
    EXPECT_FALSE(w.model->isInstallingDriver.get());
    EXPECT_TRUE(w.model->showInstallSheet.get());
}

TEST(ModelDriver, DevicesThatAppearCloseTheSheetAndTakeOverTheInput)
{
    InstallWorld w;
    test::given.set(ModelTestAccess::metersEnabled(*w.model), true).set(w.model->showMicCheck, true);
    ModelTestAccess::updateMeters(*w.model);
    w.world.takeLog();
    w.install();
    w.at(1.2);
    EXPECT_TRUE(w.model->isInstallingDriver.get());

    // The server loads the driver; the next refresh sees it.
    w.world.addVirtualDriver(60, 61);
    w.at(1.5);
    EXPECT_FALSE(w.model->showInstallSheet.get());
    EXPECT_FALSE(w.model->virtualMicNeedsUpdate.get());
    EXPECT_EQ(ModelTestAccess::loadedDriverVersion(*w.model).get(), "2.0");
    EXPECT_EQ(w.model->selectedVirtualOutputID.get(), 61u);
    EXPECT_EQ(w.model->status.get(), "wenmora 音频设备已安装");
    EXPECT_FALSE(w.model->isInstallingDriver.get());
    EXPECT_EQ(w.world.meters->virtualDevice()->id, 60u);
    EXPECT_EQ(w.world.meters->virtualTap->deviceUID(), virtualMicUID);
    EXPECT_EQ(w.world.meters->micTap->deviceUID(), "usb-mic");
    EXPECT_EQ(w.world.takeLog(), (std::vector<std::string>{"route default input 60"}));
    EXPECT_EQ(w.alerts, 0);
    w.at(20.0);
    EXPECT_EQ(w.refreshes.size(), 4u);
}

TEST(ModelDriver, OnASoundServerInstallingLoadsThisBuildsDevices)
{
    ModelWorld world;
    std::vector<std::string> loads;
    std::optional<std::string> serverError = "Connection refused";
    bool stale = true;
    auto model = world.make([&](AppModel::Dependencies& d) {
        useVirtualDeviceSetup(d,
                              VirtualDeviceSetup{.ensure = [&]() -> std::optional<std::string> {
                                                     loads.push_back("ensure");
                                                     if (serverError)
                                                         return serverError;
                                                     world.addVirtualDriver();
                                                     stale = false;
                                                     return std::nullopt;
                                                 },
                                                 .needsUpdate = [&] { return stale; },
                                                 .source = "virtual devices",
                                                 .version = "1.0"});
        d.driverVersionCheck = []() -> std::optional<std::string> { return "1.0"; };
    });
    world.run([&] { return model->installVirtualMicDriver(); });
    EXPECT_EQ(model->status.get(), "安装失败");
    EXPECT_EQ(model->errorMessage.get(), "安装 wenmora 音频设备失败：Connection refused（VM-5）");

    serverError.reset();
    world.run([&] { return model->installVirtualMicDriver(); });
    EXPECT_EQ(loads.size(), 2u);
    EXPECT_EQ(model->status.get(), "wenmora 音频设备已安装");
    EXPECT_FALSE(model->virtualMicNeedsUpdate.get());
    EXPECT_EQ(model->diagnosticRows().back(),
              (ModuleReport{ModuleID::virtualMic, "声音服务器模块 v1.0", ModuleState::ready()}));

    // The placeholder carries no driver, so installing stops at once.
    ModelWorld plain;
    auto placeholder = plain.make([](AppModel::Dependencies& d) { usePlaceholderInstaller(d); });
    plain.run([&] { return placeholder->installVirtualMicDriver(); });
    EXPECT_EQ(placeholder->errorMessage.get(), "软件包里缺少 wenmora 音频设备驱动，请重新构建或下载完整的软件。");
    EXPECT_EQ(Failure::cancelled().localizedDescription(), "已取消");
}

}  // namespace
}  // namespace parlaro
