// The press of the talk control, which the model takes or refuses before
// its hold runs, the hold made with the model's fields, and the texts of
// the talk control.

#include "model/AppModel.h"

#include "speech/Localization.h"
#include "speech/ModuleError.h"

#include <utility>

namespace parlaro {

std::shared_ptr<HoldToTalk> AppModel::makeHold()
{
    return std::make_shared<HoldToTalk>(
        HoldToTalk::Feeds{.isHoldingToTalk = isHoldingToTalk,
                          .isRecording = isRecording,
                          .mePartial = mePartial,
                          .status = status,
                          .errorMessage = errorMessage,
                          .myLanguage = myLanguage,
                          .theirLanguage = theirLanguage,
                          .originalVoiceOn = originalVoiceOn,
                          .micAuthorized = micAuthorized,
                          .recorder = ownSpeechRecorder,
                          .requestMicPermission = [this] { return requestMicPermission(); },
                          .send =
                              [this](std::string text, HoldPlay play, std::function<bool()> isStillCurrent) {
                                  return translateDraft(std::move(text), DraftSource::speech, play,
                                                        std::move(isStillCurrent));
                              },
                          .keepDraft = [this](std::string heard) { showDraft(std::move(heard)); },
                          .endFreeListening = [this] { setFreeListening(false); },
                          .beginActivity = beginActivity,
                          .endActivity = endActivity},
        FieldWriter(), changes());
}

void AppModel::beginHoldToTalk(HoldSource source)
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

    holdSource = source;
    hold->start(*engine, input, translateWhileHolding.get());
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

bool AppModel::holdAnswers(HoldSource source) const
{
    return source == HoldSource::any || holdSource == HoldSource::any || source == holdSource;
}

void AppModel::endHoldToTalk(HoldSource source)
{
    if (holdAnswers(source))
        hold->release();
}

void AppModel::cancelHold(HoldSource source)
{
    if (holdAnswers(source))
        hold->cancel();
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
    if (isRecording.get() && hold->sendsWhileHolding.get())
        return localized("正在听…松开结束");
    if (isRecording.get())
        return localized("松开翻译");
    if (isHoldingToTalk.get())
        return localized("正在准备…");
    if (!hold->isStartingRecording.get() && !myEngine.get())
        return localized("无法识别%@", myLanguage.get().displayName());
    if (!hold->isStartingRecording.get())
        return localized("按住说%@", myLanguage.get().displayName());
    if (isSpeaking.get())
        return localized("正在播放…");
    if (isTranslatingDraft.get())
        return localized("正在翻译…");
    return localized("正在识别…");
}

}  // namespace parlaro
