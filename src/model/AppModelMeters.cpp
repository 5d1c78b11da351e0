// The two level meters, run only while someone can see them, and the
// microphone permission they and every recording depend on.

#include "model/AppModel.h"

#include "speech/Localization.h"

namespace parlaro {

const std::shared_ptr<AudioMeters>& AppModel::levelMeters() const
{
    return meters;
}

void AppModel::updateMeters()
{
    // Without permission the taps are left exactly as they are.
    if (!metersEnabled.get() || !micAuthorized.get())
        return;
    if (!metersVisible.get()) {
        meters->update(std::nullopt, std::nullopt);
        return;
    }
    if (!showMicCheck.get() && !isHearTesting.get() && !callActive.get() && !freeListening.get()) {
        meters->update(std::nullopt, std::nullopt);
        return;
    }
    const std::optional<AudioObjectId> mic = meterPreviewMicID.get() ? meterPreviewMicID.get() : selectedInputID.get();
    meters->update(findDevice(inputDevices.get(), mic), virtualMicDevice());
}

rt::Async<void> AppModel::requestMicPermission()
{
    const std::weak_ptr<AppModel> weak = weak_from_this();
    const auto ask = microphonePermission;
    const bool granted = co_await ask();
    const auto self = weak.lock();
    if (!self)
        co_return;
    micAuthorized.set(granted);
    updateMeters();
    if (!granted)
        errorMessage.set(localized("没有麦克风权限。请在「系统设置 → 隐私与安全性 → 麦克风」里打开 Parlaro。"));
}

void AppModel::refreshMicAuthorization()
{
    const bool authorized = microphoneAuthorized();
    if (authorized == micAuthorized.get())
        return;
    micAuthorized.set(authorized);
    updateMeters();
    routeCallSpeaker();
}

}  // namespace parlaro
