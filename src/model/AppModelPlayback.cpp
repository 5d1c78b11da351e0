// Playing the user's translated speech to the other party: the guards, the
// devices, the speaker and the entry that records what was played.

#include "model/AppModel.h"

#include "audio/RecordingTranscript.h"
#include "runtime/Error.h"
#include "speech/Localization.h"

#include <exception>

namespace parlaro {

bool AppModel::canPlayDraft() const
{
    return hasDraft.get() && !isTranslatingDraft.get() && !isSpeaking.get() && !isRecording.get()
        && !isHearTesting.get() && !RecordingTranscript::trimmed(draftTranslation.get()).empty();
}

std::string AppModel::playDraftTitle() const
{
    const auto& played = lastPlayedDraftTranslation.get();
    if (played && *played == RecordingTranscript::trimmed(draftTranslation.get()))
        return localized("再次播放给对方");
    return localized("播放给对方");
}

rt::Async<bool> AppModel::speakToPeer(std::string text, HoldPlay play)
{
    // Refusals are silent: the control that asked is already shown as busy.
    if (isSpeaking.get() || isHearTesting.get()
        || (play == HoldPlay::outsideHold && (isRecording.get() || isHoldingToTalk.get())))
        co_return false;
    const std::string their = theirLanguage.get().displayName();
    const std::optional<std::string> voice = speakingVoiceID();
    if (!voice) {
        errorMessage.set(
            localized("这台 Mac 没有%@音色，无法播放。请在「设置 › 播放与音色」点「下载更好的音色」下载一个。", their));
        co_return false;
    }
    const std::optional<AudioObjectId> virtualOutput = selectedVirtualOutputID.get();
    if (!virtualOutput) {
        errorMessage.set(localized("没有找到 wenmora 音频设备。对方将听不到你的声音。"));
        co_return false;
    }
    std::vector<AudioObjectId> devices{*virtualOutput};
    const std::optional<AudioObjectId> monitor = selectedMonitorOutputID.get();
    if (monitorInHeadphones.get() && monitor && *monitor != *virtualOutput)
        devices.push_back(*monitor);

    const std::weak_ptr<AppModel> weak = weak_from_this();
    const std::shared_ptr<SpeechPlaying> output = speaker;
    isSpeaking.set(true);
    status.set(localized("正在用%@播放给对方…", their));
    bool stopped = false;
    std::exception_ptr failure;
    try {
        co_await output->speak(std::move(text), std::move(devices), voice);
    } catch (const rt::CancellationError&) {
        stopped = true;
    } catch (...) {
        failure = std::current_exception();
    }
    if (weak.expired())
        co_return false;
    if (stopped) {
        status.set(localized("已停止播放，可以再次播放"));
        isSpeaking.set(false);
        co_return false;
    }
    if (failure) {
        status.set(localized("播放失败，可重试"));
        errorMessage.set(localized("播放失败：%@", describe(failure)));
        isSpeaking.set(false);
        co_return false;
    }
    // The playback may have been all that kept the call looking active.
    co_await refreshCallState();
    if (weak.expired())
        co_return false;
    status.set(localized("已播放给对方"));
    isSpeaking.set(false);
    co_return true;
}

rt::Async<void> AppModel::playDraftToPeer(HoldPlay play)
{
    const bool playable = play == HoldPlay::withinHold
        ? hasDraft.get() && !isTranslatingDraft.get() && !isSpeaking.get() && !isHearTesting.get()
            && !RecordingTranscript::trimmed(draftTranslation.get()).empty()
        : canPlayDraft();
    if (!playable)
        co_return;
    const std::string text = RecordingTranscript::trimmed(draftTranslation.get());
    const std::string source = draftText.get();
    // The pair the draft was made in, even if the languages change while it plays.
    const std::string mine = myLanguage.get().id;
    const std::string their = theirLanguage.get().id;

    const std::weak_ptr<AppModel> weak = weak_from_this();
    const bool played = co_await speakToPeer(text, play);
    if (!played || weak.expired())
        co_return;
    lastPlayedDraftTranslation.set(text);
    std::vector<ConversationEntry> list = entries.get();
    list.push_back(ConversationEntry{.id = newIdentifier(),
                                     .side = ConversationEntry::Side::me,
                                     .original = source,
                                     .translated = text,
                                     .time = rt::clock().date(),
                                     .originalLanguage = mine,
                                     .translatedLanguage = their});
    setEntries(std::move(list));
    status.set(localized("已播放给对方"));
}

void AppModel::stopPlayback()
{
    if (!isSpeaking.get())
        return;
    speaker->stop();
    status.set(localized("已停止播放"));
}

void AppModel::setMonitorInHeadphones(bool on)
{
    monitorInHeadphones.set(on);
}

}  // namespace parlaro
