// The press of a hold, its task up to the wait for the release, and the
// recorder's callbacks.

#include "model/HoldToTalk.h"

#include "runtime/Error.h"
#include "runtime/Runtime.h"
#include "runtime/UuidSource.h"
#include "speech/Deadline.h"
#include "speech/Localization.h"

#include <utility>

namespace parlaro {

HoldToTalk::HoldToTalk(Feeds feeds, FieldWriter write, rt::ObservationHub* owner)
    : isStartingRecording(false, owner), holdID(rt::newUuid(), owner), heldSentences({}, owner),
      heldSentenceCount(0, owner), sendsWhileHolding(false, owner), heldUtterance({}, owner), feeds_(std::move(feeds)),
      write_(write)
{
}

void HoldToTalk::start(SpeechEngine engine, std::optional<AudioObjectId> input, bool sendWhileHolding)
{
    Press press{.hold = rt::newUuid(),
                .engine = engine,
                .input = input,
                .activity = feeds_.beginActivity(localized("按住说话"))};
    write_.set(feeds_.isHoldingToTalk, true);
    write_.set(isStartingRecording, true);
    write_.set(holdID, press.hold);
    write_.set(heldSentenceCount, 0);
    write_.set(sendsWhileHolding, sendWhileHolding);
    write_.set(heldUtterance, {});
    task_ = rt::spawn([weak = weak_from_this(), press = std::move(press), end = feeds_.endActivity]() {
        return run(weak, press, end);
    });
}

rt::Async<void> HoldToTalk::run(std::weak_ptr<HoldToTalk> weak, Press press,
                                std::function<void(const ActivityToken&)> endActivity)
{
    // The hold is held only while each stage is made; a stage finds it gone
    // after a wait and returns, and the activity ends here.
    bool running = false;
    {
        auto self = weak.lock();
        if (!self) {
            endActivity(press.activity);
            co_return;
        }
        auto stage = self->prepare(press);
        self.reset();
        running = co_await std::move(stage);
    }
    if (weak.expired()) {
        endActivity(press.activity);
        co_return;
    }
    if (!running)
        co_return;
    // A hold released meanwhile drops the continuation, which wakes this task.
    std::optional<rt::Instant> released;
    try {
        released = co_await rt::withContinuation<std::optional<rt::Instant>>(
            [&](rt::Continuation<std::optional<rt::Instant>> release) {
                if (auto self = weak.lock())
                    self->release_ = std::move(release);
            });
    } catch (const rt::AbandonedContinuationError&) {
        released.reset();
    }
    {
        auto self = weak.lock();
        if (!self) {
            endActivity(press.activity);
            co_return;
        }
        auto stage = self->finish(press, released);
        self.reset();
        co_await std::move(stage);
    }
    if (weak.expired())
        endActivity(press.activity);
}

rt::Async<bool> HoldToTalk::prepare(Press press)
{
    const std::weak_ptr<HoldToTalk> weak = weak_from_this();
    const rt::Uuid hold = press.hold;
    if (!isStillHeld(hold)) {
        reportTooShort(hold);
        endTask(press.activity);
        co_return false;
    }
    if (!feeds_.micAuthorized.get()) {
        try {
            co_await feeds_.requestMicPermission();
        } catch (...) {
            // Counted as a refusal: access stays as it was read.
        }
        if (weak.expired())
            co_return false;
        if (!feeds_.micAuthorized.get()) {
            endTask(press.activity);
            co_return false;
        }
        if (!isStillHeld(hold)) {
            reportTooShort(hold);
            endTask(press.activity);
            co_return false;
        }
    }
    write_.set(feeds_.status, localized("正在准备麦克风…"));
    const bool sendWhileHolding = sendsWhileHolding.get();
    std::exception_ptr failure;
    try {
        co_await withDeadline<void>(recorderStartSeconds, localized("录音启动"), "SR-4", std::nullopt,
                                    [this, press, sendWhileHolding] { return startRecorder(press, sendWhileHolding); });
    } catch (...) {
        failure = std::current_exception();
    }
    if (weak.expired())
        co_return false;
    if (failure) {
        co_await failStage(failure, hold);
        if (weak.expired())
            co_return false;
        endTask(press.activity);
        co_return false;
    }
    if (!isStillHeld(hold)) {
        // Released while the microphone was being prepared.
        co_await cancelRecorder();
        if (weak.expired())
            co_return false;
        reportTooShort(hold);
        endTask(press.activity);
        co_return false;
    }
    write_.set(feeds_.isRecording, true);
    write_.set(feeds_.status, recordingStatus());
    co_return true;
}

rt::Async<void> HoldToTalk::startRecorder(Press press, bool sendWhileHolding)
{
    const std::weak_ptr<HoldToTalk> weak = weak_from_this();
    const rt::Uuid hold = press.hold;
    OwnSpeechRecording::Request request(
        feeds_.myLanguage.get().speechLocale, press.engine, sendWhileHolding, press.input,
        [weak, hold](const std::string& text) {
            if (auto self = weak.lock())
                self->showPartial(text, hold);
        },
        [weak, hold](const std::string& text) {
            if (auto self = weak.lock())
                self->receiveSentence(text, hold);
        },
        [weak, hold](const std::string& text) {
            if (auto self = weak.lock())
                self->recordingFailed(text, hold);
        },
        [weak, hold] {
            auto self = weak.lock();
            return self && self->isStillHeld(hold);
        });
    // Held by the frame: the start may still run after the hold gave up on it.
    const std::shared_ptr<OwnSpeechRecording> recorder = feeds_.recorder;
    co_await recorder->start(std::move(request));
}

bool HoldToTalk::isStillHeld(const rt::Uuid& hold) const
{
    return feeds_.isHoldingToTalk.get() && holdID.get() == hold;
}

void HoldToTalk::showPartial(const std::string& text, const rt::Uuid& hold)
{
    if (holdID.get() == hold)
        write_.set(feeds_.mePartial, text);
}

void HoldToTalk::receiveSentence(const std::string& text, const rt::Uuid& hold)
{
    if (holdID.get() == hold)
        queueSentence(text, hold);
}

void HoldToTalk::recordingFailed(const std::string& text, const rt::Uuid& hold)
{
    if (holdID.get() != hold || (!feeds_.isRecording.get() && !feeds_.isHoldingToTalk.get()))
        return;
    cancel();
    write_.set(feeds_.status, localized("麦克风中断，本句未发送"));
    write_.set(feeds_.errorMessage, localized("%@。本句未发送，请检查麦克风后重新按住说话。", text));
}

std::string HoldToTalk::recordingStatus() const
{
    const bool sendWhileHolding = sendsWhileHolding.get();
    if (feeds_.originalVoiceOn.get()) {
        const std::string their = feeds_.theirLanguage.get().displayName();
        return sendWhileHolding ? localized("正在听…对方同时听到你的原声；每说完一句就翻译成%@", their)
                                : localized("正在听…对方同时听到你的原声；松开后翻译成%@", their);
    }
    return sendWhileHolding ? localized("正在听…每说完一句自动翻译给对方，Esc 取消")
                            : localized("正在听…松开自动翻译发送，Esc 取消");
}

}  // namespace parlaro
