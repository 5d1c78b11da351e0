// Giving up own-voice forwarding and putting the system microphone back.

#include "model/AppModel.h"

#include "runtime/Error.h"
#include "speech/Localization.h"

namespace parlaro {

void AppModel::stopForwarding()
{
    // A stop always starts the forwarder's next run afresh.
    directVoice->stop();
    forwardingActive.set(false);
    originalVoiceOn.set(false);
}

void AppModel::restoreSystemMic()
{
    if (!systemRoute)
        return;
    try {
        systemRoute->restoreSavedRoute();
    } catch (...) {
        errorMessage.set(localized("系统麦克风未能恢复：%@", describe(std::current_exception())) + "（VM-7）");
    }
}

} // namespace parlaro
