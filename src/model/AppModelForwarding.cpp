// Forwarding the user's own voice into the virtual microphone while a call
// or a hear test runs.

#include "model/AppModel.h"

#include "runtime/Error.h"
#include "speech/Localization.h"

namespace parlaro {

rt::Async<void> AppModel::startOriginalVoice()
{
    const bool wanted = originalVoiceOn.get() && micConfirmed.get() && (callActive.get() || isHearTesting.get());
    if (wanted) {
        if (forwardingActive.get())
            co_return;
        // Missing devices were already reported by the device refresh.
        const auto output = findDevice(outputDevices.get(), selectedVirtualOutputID.get());
        if (!findDevice(inputDevices.get(), selectedInputID.get()) || !output || !isOwnDevice(*output))
            co_return;
        startForwarder(*selectedInputID.get(), output->id);
        co_return;
    }
    // Own voice stays on for the next call.
    if (forwardingActive.get()) {
        directVoice->stop();
        forwardingActive.set(false);
    }
}

void AppModel::reapplyOriginalVoice()
{
    directVoice->stop();
    forwardingActive.set(false);
    if (originalVoiceOn.get() && micConfirmed.get() && (callActive.get() || isHearTesting.get())
        && selectedInputID.get() && selectedVirtualOutputID.get())
        startForwarder(*selectedInputID.get(), *selectedVirtualOutputID.get());
}

void AppModel::startForwarder(AudioObjectId input, AudioObjectId output)
{
    // A stop always starts the forwarder's next run afresh.
    directVoice->stop();
    try {
        directVoice->start(input, output, [weak = weak_from_this()](const std::string& reason) {
            if (auto self = weak.lock())
                self->originalVoiceFailed(reason);
        });
        forwardingActive.set(true);
    } catch (...) {
        originalVoiceFailed(describe(std::current_exception()));
    }
}

void AppModel::stopForwarding()
{
    directVoice->stop();
    forwardingActive.set(false);
    originalVoiceOn.set(false);
}

void AppModel::originalVoiceFailed(const std::string& reason)
{
    // Late, or already handled.
    if (!originalVoiceOn.get())
        return;
    // The server took the devices away; own voice stays on and the
    // recovery starts forwarding again.
    if (heldForAudioServer()) {
        directVoice->stop();
        forwardingActive.set(false);
        return;
    }
    stopForwarding();
    const std::string name = theirLanguage.get().displayName();
    status.set(localized("原声转发已停止，对方现在只听到%@翻译", name));
    errorMessage.set(bracketed(
        localized("「对方听到我的原声」已自动关闭：%@\n对方现在只听到%@翻译。检查麦克风后可以重新打开。", reason, name),
        "VM-6"));
}

}  // namespace parlaro
