// The virtual-device driver: whether the installed copy must be replaced,
// which version is loaded, and installing the carried copy, then waiting for
// its devices to be listed.

#include "model/AppModel.h"

#include "model/SleepThroughCancellation.h"
#include "model/VirtualMicInstallerFailure.h"
#include "runtime/Error.h"
#include "runtime/Runtime.h"
#include "speech/Localization.h"

#include <algorithm>
#include <exception>

namespace parlaro {

namespace {

// Between two device refreshes while the new driver's devices are awaited.
constexpr double driverDetectInterval = 0.5;

bool isCancelledPrompt(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const VirtualMicInstallerFailure& failure) {
        return failure.kind() == VirtualMicInstallerFailure::Kind::cancelled;
    } catch (...) {
        return false;
    }
}

}  // namespace

void AppModel::checkDriverUpdate()
{
    // A driver that is not there is missing, not out of date, whatever the
    // checks would say about leftovers.
    const bool installed = virtualMicStatus();
    virtualMicNeedsUpdate.set(installed && driverUpdateCheck());
    loadedDriverVersion.set(installed ? driverVersionCheck() : std::nullopt);
}

bool AppModel::driverDetected() const
{
    const std::optional<AudioDevice> mic = virtualMicDevice();
    if (!mic || mic->outputChannels <= 0 || !virtualTapDevice.get())
        return false;
    const std::optional<AudioDevice> injection = findDevice(outputDevices.get(), selectedVirtualOutputID.get());
    return injection && injection->uid == injectionUID;
}

rt::Async<void> AppModel::installVirtualMicDriver()
{
    if (isInstallingDriver.get())
        co_return;
    if (!virtualDeviceSource.get()) {
        errorMessage.set(localized("软件包里缺少 wenmora 音频设备驱动，请重新构建或下载完整的软件。"));
        co_return;
    }
    const std::weak_ptr<AppModel> weak = weak_from_this();
    isInstallingDriver.set(true);
    status.set(localized("正在安装 wenmora 音频设备…"));

    const auto run = ensureVirtualDevices;
    std::exception_ptr failure;
    try {
        co_await run(deviceSetupStep(*virtualDeviceSource.get()));
    } catch (...) {
        failure = std::current_exception();
    }
    if (weak.expired())
        co_return;
    if (failure) {
        if (isCancelledPrompt(failure)) {
            status.set(bracketed(localized("已取消安装。没有 wenmora 音频设备，对方听不到翻译。"), "VM-4"));
        } else {
            status.set(localized("安装失败"));
            errorMessage.set(bracketed(localized("安装 wenmora 音频设备失败：%@", describe(failure)), "VM-5"));
        }
        isInstallingDriver.set(false);
        applySystemMic();
        co_return;
    }

    // The devices may come back under new ids once the server has loaded
    // the driver; each refresh picks them up.
    const rt::Instant deadline = rt::clock().now() + driverDetectTimeout;
    for (;;) {
        refreshDevices();
        if (driverDetected()) {
            showInstallSheet.set(false);
            virtualMicNeedsUpdate.set(false);
            checkDriverUpdate();
            // The taps ran on the devices the server dropped.
            meters->micTap->stop();
            meters->virtualTap->stop();
            updateMeters();
            status.set(localized("wenmora 音频设备已安装"));
            isInstallingDriver.set(false);
            applySystemMic();
            co_return;
        }
        if (rt::clock().now() >= deadline)
            break;
        co_await sleepThroughCancellation(driverDetectInterval);
        if (weak.expired())
            co_return;
    }
    // The sheet stays open for another try.
    status.set(localized("驱动已安装，但系统尚未识别"));
    errorMessage.set(
        bracketed(localized("wenmora 音频设备已安装，但系统暂时没有识别到。请重启电脑后再打开本软件。"), "VM-3"));
    isInstallingDriver.set(false);
    applySystemMic();
}

}  // namespace parlaro
