// The microphone check and the switch of the user's own voice.

#include "model/AppModel.h"

#include "speech/Localization.h"

#include <exception>

namespace parlaro {

rt::Async<void> AppModel::enableMeters()
{
    if (!micAuthorized.get()) {
        const std::weak_ptr<AppModel> weak = weak_from_this();
        const auto ask = microphonePermission;
        const bool granted = co_await ask();
        if (weak.expired())
            co_return;
        micAuthorized.set(granted);
    }
    refreshDevices();
    metersEnabled.set(true);
    updateMeters();
}

void AppModel::closeMicCheck()
{
    meterPreviewMicID.set(std::nullopt);
    micCheckReason.set(std::nullopt);
    showMicCheck.set(false);
    updateMeters();
}

void AppModel::previewMicrophone(std::optional<AudioObjectId> id)
{
    meterPreviewMicID.set(id);
    updateMeters();
}

rt::Async<void> AppModel::confirmMicrophone(AudioObjectId id)
{
    if (!findDevice(inputDevices.get(), id)) {
        errorMessage.set(localized("这个麦克风已断开，请重新选择。"));
        co_return;
    }
    const bool changed = selectedInputID.get() != id;
    setSelectedInputID(id);
    micConfirmed.set(true);
    closeMicCheck();
    const auto device = findDevice(inputDevices.get(), selectedInputID.get());
    status.set(localized("已确认麦克风：%@", device ? device->name : std::string()));

    if (changed && originalVoiceOn.get()) {
        // Own voice follows the new microphone.
        stopForwarding();
        co_await setOriginalVoice(true);
    } else if (originalVoiceOnByDefault.get() && !originalVoiceAutoStarted.get() && !originalVoiceOn.get()) {
        originalVoiceAutoStarted.set(true);
        co_await setOriginalVoice(true);
    }
}

rt::Async<void> AppModel::setOriginalVoice(bool on)
{
    if (on == originalVoiceOn.get() || isChangingOriginalVoice.get())
        co_return;
    const std::string their = theirLanguage.get().displayName();
    if (!on) {
        stopForwarding();
        status.set(localized("原声已关闭：对方只听到%@翻译", their));
        co_return;
    }
    if (!micConfirmed.get()) {
        openMicCheck(localized("开启原声前，请先确认要用的麦克风。"));
        co_return;
    }
    isChangingOriginalVoice.set(true);
    const auto output = findDevice(outputDevices.get(), selectedVirtualOutputID.get());
    if (!findDevice(inputDevices.get(), selectedInputID.get()) || !output || !isOwnDevice(*output)) {
        errorMessage.set(localized("请先确认麦克风，并确认 wenmora 音频设备已安装。"));
        isChangingOriginalVoice.set(false);
        co_return;
    }

    const std::weak_ptr<AppModel> weak = weak_from_this();
    try {
        co_await requestMicPermission();
        if (weak.expired())
            co_return;
        if (!micAuthorized.get()) {
            isChangingOriginalVoice.set(false);
            co_return;
        }
        originalVoiceOn.set(true);
        co_await startOriginalVoice();
    } catch (...) {
        // A switch cut short must not leave the next one refused for good.
        if (!weak.expired())
            isChangingOriginalVoice.set(false);
        throw;
    }
    if (weak.expired())
        co_return;
    // A start that failed has switched own voice off and said why.
    if (!originalVoiceOn.get()) {
        isChangingOriginalVoice.set(false);
        co_return;
    }
    if (!callActive.get())
        status.set(localized("原声已开启：通话时自动转发你的声音"));
    else if (!translateWhileHolding.get())
        status.set(localized("原声已开启：对方先听到你说的%@，松开按钮后再听到%@", myLanguage.get().displayName(),
                             theirLanguage.get().displayName()));
    else
        status.set(localized("原声已开启：对方听到你说的%@，每说完一句再听到%@", myLanguage.get().displayName(),
                             theirLanguage.get().displayName()));
    isChangingOriginalVoice.set(false);
}

}  // namespace parlaro
