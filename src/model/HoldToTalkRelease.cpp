// The release and the cancel of a hold, and the hold task from the release
// to its end.

#include "model/HoldToTalk.h"

#include "audio/RecordingTranscript.h"
#include "runtime/Error.h"
#include "runtime/Runtime.h"
#include "runtime/UuidSource.h"
#include "speech/Deadline.h"
#include "speech/Localization.h"

#include <unicode/utf8.h>

#include <utility>

namespace parlaro {

namespace {

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

rt::Async<std::string> finishRecording(std::shared_ptr<OwnSpeechRecording> recorder)
{
    co_return co_await recorder->finish();
}

// The text a cancel leaves: whether some of the hold already reached the
// other party decides it.
std::string cancelText(std::int64_t sentSentences)
{
    return localized(sentSentences < 1 ? "已取消录音，未发送" : "已取消录音，剩下的部分未发送");
}

}  // namespace

void HoldToTalk::release()
{
    if (!feeds_.isHoldingToTalk.get())
        return;
    const rt::Instant released = rt::clock().now();
    write_.set(feeds_.isHoldingToTalk, false);
    write_.set(feeds_.isRecording, false);
    // No waiting continuation: the recorder was still starting.
    write_.set(feeds_.status, localized(release_ ? "正在完成语音识别…" : "正在结束录音…"));
    feeds_.recorder->stopCapture();
    if (auto waiting = std::exchange(release_, std::nullopt))
        waiting->resume(std::optional<rt::Instant>(released));
}

void HoldToTalk::cancel()
{
    if (!task_)
        return;
    const std::int64_t queued = heldSentenceCount.get();
    // Every result still on its way for this hold is stale from here on.
    write_.set(holdID, rt::newUuid());
    task_.cancel();
    write_.set(feeds_.isHoldingToTalk, false);
    write_.set(feeds_.isRecording, false);
    feeds_.recorder->stopCapture();
    if (auto waiting = std::exchange(release_, std::nullopt))
        waiting->resume(std::optional<rt::Instant>());
    write_.set(feeds_.status, cancelText(queued));
}

rt::Async<void> HoldToTalk::cancelRecorder()
{
    const std::shared_ptr<OwnSpeechRecording> recorder = feeds_.recorder;
    try {
        co_await recorder->cancel();
    } catch (...) {
        // The hold ends either way; a recorder that cannot cancel is restarted at the next press.
    }
}

rt::Async<void> HoldToTalk::finish(Press press, std::optional<rt::Instant> released)
{
    const std::weak_ptr<HoldToTalk> weak = weak_from_this();
    const rt::Uuid hold = press.hold;
    if (!released || holdID.get() != hold) {
        co_await cancelRecorder();
        if (weak.expired())
            co_return;
        // The same count rule as the cancel itself: sentences of this hold
        // that were already sent must not be reported as unsent.
        write_.set(feeds_.status, cancelText(heldSentenceCount.get()));
        endTask(press.activity);
        co_return;
    }
    write_.set(feeds_.status, localized("正在完成语音识别…"));
    std::string recognized;
    std::exception_ptr failure;
    try {
        const std::shared_ptr<OwnSpeechRecording> recorder = feeds_.recorder;
        recognized = co_await withDeadline<std::string>(recognitionFinishSeconds, localized("语音识别"), "SR-4",
                                                        *released + recognitionFinishSeconds,
                                                        [recorder] { return finishRecording(recorder); });
    } catch (...) {
        failure = std::current_exception();
    }
    if (weak.expired())
        co_return;
    if (failure) {
        co_await failStage(failure, hold);
        if (weak.expired())
            co_return;
        endTask(press.activity);
        co_return;
    }
    if (holdID.get() != hold) {
        endTask(press.activity);
        co_return;
    }
    const std::string text = RecordingTranscript::trimmed(recognized);
    if (!sendsWhileHolding.get()) {
        std::vector<std::string> pieces = heldUtterance.get();
        if (!text.empty())
            pieces.push_back(text);
        const std::string joined = joinRecognizedText(pieces);
        write_.set(heldUtterance, {});
        if (joined.empty()) {
            write_.set(feeds_.status, localized("没有识别到内容，请按住后再说一次"));
        } else {
            co_await feeds_.send(joined, HoldPlay::outsideHold, [weak, hold] {
                auto self = weak.lock();
                return self && self->holdID.get() == hold;
            });
            if (weak.expired())
                co_return;
        }
        endTask(press.activity);
        co_return;
    }
    if (!text.empty())
        queueSentence(text, hold);
    if (heldSentenceCount.get() >= 1) {
        // The hold is over only once every sentence of it has been played.
        if (const rt::TaskHandle<> worker = sender_) {
            co_await worker.join();
            if (weak.expired())
                co_return;
        }
    } else {
        write_.set(feeds_.status, localized("没有识别到内容，请按住后再说一次"));
    }
    endTask(press.activity);
}

rt::Async<void> HoldToTalk::failStage(std::exception_ptr error, rt::Uuid hold)
{
    const std::weak_ptr<HoldToTalk> weak = weak_from_this();
    if (rt::isCancellation(error)) {
        co_await cancelRecorder();
        if (weak.expired())
            co_return;
        write_.set(feeds_.status, localized("已取消本句，未发送"));
        reportTooShort(hold);
        co_return;
    }
    // What was heard so far is kept for the user to send by hand.
    const std::string heard = RecordingTranscript::trimmed(feeds_.mePartial.get());
    co_await cancelRecorder();
    if (weak.expired())
        co_return;
    if (!heard.empty())
        feeds_.keepDraft(heard);
    const std::string reason = describe(error);
    write_.set(feeds_.status, localized("%@；已恢复按钮，本句未发送", reason));
    write_.set(feeds_.errorMessage,
               localized("%@。可以重新按住录音。已识别的文字会保留为草稿，不会自动发送。", reason));
}

void HoldToTalk::reportTooShort(const rt::Uuid& hold)
{
    // A cancel changed the token and keeps its own text.
    if (holdID.get() != hold || feeds_.isHoldingToTalk.get() || feeds_.isRecording.get())
        return;
    write_.set(feeds_.mePartial, "");
    write_.set(feeds_.status, localized("按住时间太短，请按住按钮说话，说完再松开"));
}

void HoldToTalk::endTask(const ActivityToken& activity)
{
    feeds_.endFreeListening();
    write_.set(feeds_.isRecording, false);
    write_.set(feeds_.isHoldingToTalk, false);
    write_.set(isStartingRecording, false);
    task_ = {};
    write_.set(feeds_.mePartial, "");
    feeds_.endActivity(activity);
}

std::string HoldToTalk::joinRecognizedText(const std::vector<std::string>& pieces)
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
