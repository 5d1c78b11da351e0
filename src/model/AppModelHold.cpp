// The release and the cancel of a hold.

#include "model/AppModel.h"

#include "runtime/Runtime.h"
#include "speech/Localization.h"

#include <utility>

namespace parlaro {

void AppModel::endHoldToTalk()
{
    if (!isHoldingToTalk.get())
        return;
    const rt::Instant released = rt::clock().now();
    isHoldingToTalk.set(false);
    isRecording.set(false);
    // No waiting continuation: the recorder was still starting.
    status.set(localized(holdRelease ? "正在完成语音识别…" : "正在结束录音…"));
    chineseRecorder->stopCapture();
    if (auto release = std::exchange(holdRelease, std::nullopt))
        release->resume(std::optional<rt::Instant>(released));
}

void AppModel::cancelHold()
{
    if (!holdTask)
        return;
    const std::int64_t queued = heldSentenceCount.get();
    // Every result still on its way for this hold is stale from here on.
    holdID.set(newIdentifier());
    holdTask.cancel();
    isHoldingToTalk.set(false);
    isRecording.set(false);
    chineseRecorder->stopCapture();
    if (auto release = std::exchange(holdRelease, std::nullopt))
        release->resume(std::optional<rt::Instant>());
    status.set(localized(queued < 1 ? "已取消录音，未发送" : "已取消录音，剩下的部分未发送"));
}

} // namespace parlaro
