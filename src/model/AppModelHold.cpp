// The release and the cancel of a hold, and the hold task from the release
// to its end.

#include "model/AppModel.h"

#include "audio/RecordingTranscript.h"
#include "runtime/Error.h"
#include "runtime/Runtime.h"
#include "speech/Deadline.h"
#include "speech/Localization.h"

#include <unicode/utf8.h>

#include <utility>

namespace parlaro {

namespace {

// Recognition must have finished this long after the release.
constexpr double recognitionFinishSeconds = 12.0;

// Scripts written without blanks between words, and the full-width forms.
bool joinsWithoutBlank(UChar32 c)
{
    return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFFEF);
}

UChar32 firstScalar(const std::string& text)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    std::int32_t offset = 0;
    UChar32 c;
    U8_NEXT(bytes, offset, static_cast<std::int32_t>(text.size()), c);
    return c;
}

UChar32 lastScalar(const std::string& text)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    auto offset = static_cast<std::int32_t>(text.size());
    UChar32 c;
    U8_PREV(bytes, 0, offset, c);
    return c;
}

// The text a cancel leaves: whether some of the hold already reached the
// other party decides it.
std::string cancelText(std::int64_t sentSentences)
{
    return localized(sentSentences < 1 ? "已取消录音，未发送" : "已取消录音，剩下的部分未发送");
}

}  // namespace

void AppModel::endHoldToTalk()
{
    if (!isHoldingToTalk.get())
        return;
    const rt::Instant released = rt::clock().now();
    isHoldingToTalk.set(false);
    isRecording.set(false);
    // No waiting continuation: the recorder was still starting.
    status.set(localized(holdRelease ? "正在完成语音识别…" : "正在结束录音…"));
    ownSpeechRecorder->stopCapture();
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
    ownSpeechRecorder->stopCapture();
    if (auto release = std::exchange(holdRelease, std::nullopt))
        release->resume(std::optional<rt::Instant>());
    status.set(cancelText(queued));
}

rt::Async<void> AppModel::cancelRecorder()
{
    const std::shared_ptr<OwnSpeechRecording> recorder = ownSpeechRecorder;
    try {
        co_await recorder->cancel();
    } catch (...) {
        // The hold ends either way; a recorder that cannot cancel is restarted at the next press.
    }
}

rt::Async<std::string> AppModel::finishRecognition()
{
    const std::shared_ptr<OwnSpeechRecording> recorder = ownSpeechRecorder;
    co_return co_await recorder->finish();
}

rt::Async<void> AppModel::finishHold(HoldPress press, std::optional<rt::Instant> released)
{
    const rt::Uuid hold = press.hold;
    if (!released || holdID.get() != hold) {
        co_await cancelRecorder();
        // The same count rule as the cancel itself: sentences of this hold
        // that were already sent must not be reported as unsent.
        status.set(cancelText(heldSentenceCount.get()));
        endHoldTask(press.activity);
        co_return;
    }
    status.set(localized("正在完成语音识别…"));
    std::string recognized;
    std::exception_ptr failure;
    try {
        recognized = co_await withDeadline<std::string>(recognitionFinishSeconds, localized("语音识别"), "SR-4",
                                                        *released + recognitionFinishSeconds,
                                                        [this] { return finishRecognition(); });
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        co_await failHoldStage(failure, hold);
        endHoldTask(press.activity);
        co_return;
    }
    if (holdID.get() != hold) {
        endHoldTask(press.activity);
        co_return;
    }
    const std::string text = RecordingTranscript::trimmed(recognized);
    if (!holdSendsWhileHolding.get()) {
        std::vector<std::string> pieces = heldUtterance.get();
        if (!text.empty())
            pieces.push_back(text);
        const std::string joined = joinRecognizedText(pieces);
        heldUtterance.set({});
        if (joined.empty()) {
            status.set(localized("没有识别到内容，请按住后再说一次"));
        } else {
            const std::weak_ptr<AppModel> weak = weak_from_this();
            co_await translateDraft(joined, DraftSource::speech, HoldPlay::outsideHold, [weak, hold] {
                auto self = weak.lock();
                return self && self->isCurrentHold(hold);
            });
        }
        endHoldTask(press.activity);
        co_return;
    }
    if (!text.empty())
        queueHeldSentence(text, hold);
    if (heldSentenceCount.get() >= 1) {
        // The hold is over only once every sentence of it has been played.
        if (const rt::TaskHandle<> worker = heldSentenceWorker)
            co_await worker.join();
    } else {
        status.set(localized("没有识别到内容，请按住后再说一次"));
    }
    endHoldTask(press.activity);
}

rt::Async<void> AppModel::failHoldStage(std::exception_ptr error, rt::Uuid hold)
{
    if (rt::isCancellation(error)) {
        co_await cancelRecorder();
        status.set(localized("已取消本句，未发送"));
        reportHoldTooShort(hold);
        co_return;
    }
    // What was heard so far is kept for the user to send by hand.
    const std::string heard = RecordingTranscript::trimmed(mePartial.get());
    co_await cancelRecorder();
    if (!heard.empty()) {
        draftText.set(heard);
        draftTranslation.set("");
        hasDraft.set(true);
        lastPlayedDraftTranslation.set(std::nullopt);
    }
    const std::string reason = describe(error);
    status.set(localized("%@；已恢复按钮，本句未发送", reason));
    errorMessage.set(localized("%@。可以重新按住录音。已识别的文字会保留为草稿，不会自动发送。", reason));
}

void AppModel::reportHoldTooShort(const rt::Uuid& hold)
{
    // A cancel changed the token and keeps its own text.
    if (holdID.get() != hold || isHoldingToTalk.get() || isRecording.get())
        return;
    mePartial.set("");
    status.set(localized("按住时间太短，请按住按钮说话，说完再松开"));
}

void AppModel::endHoldTask(const ActivityToken& activity)
{
    setFreeListening(false);
    isRecording.set(false);
    isHoldingToTalk.set(false);
    isStartingRecording.set(false);
    holdTask = {};
    mePartial.set("");
    endActivity(activity);
}

std::string AppModel::joinRecognizedText(const std::vector<std::string>& pieces)
{
    std::string joined;
    for (const std::string& raw : pieces) {
        const std::string piece = RecordingTranscript::trimmed(raw);
        if (piece.empty())
            continue;
        if (!joined.empty() && !joinsWithoutBlank(lastScalar(joined)) && !joinsWithoutBlank(firstScalar(piece)))
            joined += ' ';
        joined += piece;
    }
    return joined;
}

}  // namespace parlaro
