// The press of a hold, its task up to the wait for the release, the
// recorder's callbacks and the texts of the talk control.

#include "model/AppModel.h"

#include "audio/RecordingTranscript.h"
#include "runtime/Error.h"
#include "runtime/Runtime.h"
#include "speech/Deadline.h"
#include "speech/Localization.h"
#include "speech/ModuleError.h"

#include <algorithm>
#include <utility>

namespace parlaro {

namespace {

// The recorder start has this long from the moment the hold task asks for it.
constexpr double recorderStartSeconds = 12.0;

}  // namespace

void AppModel::beginHoldToTalk()
{
    if (!canStartSpeaking()) {
        tellWhyNoHold();
        return;
    }
    const std::string my = myLanguage.get().displayName();
    const std::optional<SpeechEngine> engine = myEngine.get();
    if (!engine) {
        errorMessage.set(ModuleError(ModuleID::recognition, 1, localized("本机无法识别%@", my)).errorDescription());
        return;
    }
    // No download makes this pair translatable: the press says so in the
    // setup steps' words rather than ask for one.
    if (!translationSupported.get()) {
        status.set(untranslatablePairLine());
        return;
    }
    if (!mySpeechReady.get() || !translationReady.get()) {
        errorMessage.set(localized("请先完成%@识别模型和翻译语言包下载。", my));
        return;
    }
    const std::optional<AudioObjectId> input = selectedInputID.get();
    if (!micConfirmed.get() || !input || !findDevice(inputDevices.get(), input)) {
        openMicCheck(localized("说话前，请先确认要用的麦克风。"));
        return;
    }

    HoldPress press{
        .hold = newIdentifier(), .engine = *engine, .input = input, .activity = beginActivity(localized("按住说话"))};
    isHoldingToTalk.set(true);
    isStartingRecording.set(true);
    holdID.set(press.hold);
    heldSentenceCount.set(0);
    holdSendsWhileHolding.set(translateWhileHolding.get());
    heldUtterance.set({});
    holdTask = rt::spawn(
        [weak = weak_from_this(), press = std::move(press), end = endActivity]() { return runHold(weak, press, end); });
}

void AppModel::tellWhyNoHold()
{
    // A press during a hold (a key's repeat) belongs to it; any other says
    // why it starts nothing, as a global key has no greyed button to show
    // it and a greyed button is easily missed.
    if (isHoldingToTalk.get())
        return;
    if (!canStartSpeaking())
        status.set(isHearTesting.get() ? localized("正在试听，结束后再按住说话")
                                       : localized("上一句还在处理，完成后再按住说话"));
    else if (const auto why = holdToTalkUnavailable())
        status.set(*why);
}

rt::Async<void> AppModel::runHold(std::weak_ptr<AppModel> weak, HoldPress press,
                                  std::function<void(const ActivityToken&)> endActivity)
{
    {
        auto self = weak.lock();
        if (!self) {
            endActivity(press.activity);
            co_return;
        }
        if (!co_await self->prepareHold(press))
            co_return;
    }
    // The model is held only weakly while the user speaks: a model released
    // meanwhile drops the continuation, which wakes this task.
    std::optional<rt::Instant> released;
    try {
        released = co_await rt::withContinuation<std::optional<rt::Instant>>(
            [&](rt::Continuation<std::optional<rt::Instant>> release) {
                if (auto self = weak.lock())
                    self->storeHoldRelease(std::move(release));
            });
    } catch (const rt::AbandonedContinuationError&) {
        released.reset();
    }
    auto self = weak.lock();
    if (!self) {
        endActivity(press.activity);
        co_return;
    }
    co_await self->finishHold(press, released);
}

rt::Async<bool> AppModel::prepareHold(HoldPress press)
{
    const rt::Uuid hold = press.hold;
    auto stillHeld = [this, hold] { return isHoldingToTalk.get() && holdID.get() == hold; };
    if (!stillHeld()) {
        reportHoldTooShort(hold);
        endHoldTask(press.activity);
        co_return false;
    }
    if (!micAuthorized.get()) {
        try {
            co_await requestMicPermission();
        } catch (...) {
            // Counted as a refusal: access stays as it was read.
        }
        if (!micAuthorized.get()) {
            endHoldTask(press.activity);
            co_return false;
        }
        if (!stillHeld()) {
            reportHoldTooShort(hold);
            endHoldTask(press.activity);
            co_return false;
        }
    }
    status.set(localized("正在准备麦克风…"));
    const bool sendsWhileHolding = holdSendsWhileHolding.get();
    std::exception_ptr failure;
    try {
        co_await withDeadline<void>(
            recorderStartSeconds, localized("录音启动"), "SR-4", std::nullopt,
            [this, press, sendsWhileHolding] { return startRecorder(press, sendsWhileHolding); });
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        co_await failHoldStage(failure, hold);
        endHoldTask(press.activity);
        co_return false;
    }
    if (!stillHeld()) {
        // Released while the microphone was being prepared.
        co_await cancelRecorder();
        reportHoldTooShort(hold);
        endHoldTask(press.activity);
        co_return false;
    }
    isRecording.set(true);
    status.set(recordingStatus());
    co_return true;
}

rt::Async<void> AppModel::startRecorder(HoldPress press, bool sendsWhileHolding)
{
    const std::weak_ptr<AppModel> weak = weak_from_this();
    const rt::Uuid hold = press.hold;
    OwnSpeechRecording::Request request(
        myLanguage.get().speechLocale, press.engine, sendsWhileHolding, press.input,
        [weak, hold](const std::string& text) {
            if (auto self = weak.lock())
                self->showMyPartial(text, hold);
        },
        [weak, hold](const std::string& text) {
            if (auto self = weak.lock())
                self->receiveHeldSentence(text, hold);
        },
        [weak, hold](const std::string& text) {
            if (auto self = weak.lock())
                self->recordingFailed(text, hold);
        },
        [weak, hold] {
            auto self = weak.lock();
            return self && self->isHoldStillHeld(hold);
        });
    // Held by the frame: the start may still run after the hold gave up on it.
    const std::shared_ptr<OwnSpeechRecording> recorder = ownSpeechRecorder;
    co_await recorder->start(std::move(request));
}

bool AppModel::isHoldStillHeld(const rt::Uuid& hold) const
{
    return isHoldingToTalk.get() && holdID.get() == hold;
}

bool AppModel::isCurrentHold(const rt::Uuid& hold) const
{
    return holdID.get() == hold;
}

void AppModel::showMyPartial(const std::string& text, const rt::Uuid& hold)
{
    if (holdID.get() == hold)
        mePartial.set(text);
}

void AppModel::receiveHeldSentence(const std::string& text, const rt::Uuid& hold)
{
    if (holdID.get() == hold)
        queueHeldSentence(text, hold);
}

void AppModel::recordingFailed(const std::string& text, const rt::Uuid& hold)
{
    if (holdID.get() != hold || (!isRecording.get() && !isHoldingToTalk.get()))
        return;
    cancelHold();
    status.set(localized("麦克风中断，本句未发送"));
    errorMessage.set(localized("%@。本句未发送，请检查麦克风后重新按住说话。", text));
}

void AppModel::storeHoldRelease(rt::Continuation<std::optional<rt::Instant>> release)
{
    holdRelease = std::move(release);
}

std::string AppModel::recordingStatus() const
{
    const bool sendsWhileHolding = holdSendsWhileHolding.get();
    if (originalVoiceOn.get()) {
        const std::string their = theirLanguage.get().displayName();
        return sendsWhileHolding ? localized("正在听…对方同时听到你的原声；每说完一句就翻译成%@", their)
                                 : localized("正在听…对方同时听到你的原声；松开后翻译成%@", their);
    }
    return sendsWhileHolding ? localized("正在听…每说完一句自动翻译给对方，Esc 取消")
                             : localized("正在听…松开自动翻译发送，Esc 取消");
}

std::optional<std::string> AppModel::holdToTalkUnavailable() const
{
    // Nothing held could be translated, and the field beside takes nothing.
    if (!translationSupported.get())
        return untranslatablePairLine();
    if (myEngine.get())
        return std::nullopt;
    // Typed text waits for a check before it plays when the user asked so.
    if (confirmBeforeSend.get())
        return localized("本机无法识别%@，不能按住说话。请在旁边的输入框打字，回车翻译，核对后点「播放给对方」。",
                         myLanguage.get().displayName());
    return localized("本机无法识别%@，不能按住说话。请在旁边的输入框打字，回车翻译并播放给对方。",
                     myLanguage.get().displayName());
}

std::string AppModel::holdButtonTitle() const
{
    if (isRecording.get() && freeListening.get())
        return localized("自由说话");
    if (isRecording.get() && holdSendsWhileHolding.get())
        return localized("正在听…松开结束");
    if (isRecording.get())
        return localized("松开翻译");
    if (isHoldingToTalk.get())
        return localized("正在准备…");
    if (!isStartingRecording.get() && !myEngine.get())
        return localized("无法识别%@", myLanguage.get().displayName());
    if (!isStartingRecording.get())
        return localized("按住说%@", myLanguage.get().displayName());
    if (isSpeaking.get())
        return localized("正在播放…");
    if (isTranslatingDraft.get())
        return localized("正在翻译…");
    return localized("正在识别…");
}

}  // namespace parlaro
