// The voice picks per call language, the voices offered and the preview.

#include "model/AppModel.h"

#include "platform/Platform.h"
#include "platform/TextServices.h"
#include "runtime/Error.h"
#include "speech/InterfaceLanguage.h"
#include "speech/Localization.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace parlaro {

namespace {

bool holdsVoice(const std::vector<VoiceOption>& voices, const std::string& identifier)
{
    return std::any_of(voices.begin(), voices.end(), [&](const VoiceOption& voice) { return voice.id == identifier; });
}

// A synthesizer that names its voices by their language in English
// ("Spanish (Spain)") has them named in the interface language instead;
// a voice with a name of its own keeps its label.
std::string nameShown(const VoiceOption& voice)
{
    const TextServices& text = *platform().text;
    const std::string base = voice.language.substr(0, voice.language.find('-'));
    const std::string english = text.displayName(base, "en");
    if (base.empty() || english.empty() || english == base || !voice.name.starts_with(english))
        return voice.label;
    const std::string shown = text.displayName(voice.language, InterfaceLanguage::current());
    return shown.empty() || shown == voice.language ? voice.label : shown;
}

}  // namespace

std::map<std::string, std::string> AppModel::loadVoiceChoices()
{
    std::map<std::string, std::string> choices;
    if (const auto stored = defaults.get<DefaultsDictionary>("voiceByLanguage")) {
        for (const auto& [language, voice] : *stored) {
            const std::string* identifier = voice.getIf<std::string>();
            // One value of another kind discards the whole stored map.
            if (!identifier) {
                choices.clear();
                break;
            }
            choices.emplace(language, *identifier);
        }
    }
    const std::optional<std::string> oldEnglish = defaults.get<std::string>("englishVoiceIdentifier");
    if (!oldEnglish)
        return choices;
    if (!oldEnglish->empty())
        choices.emplace("en", *oldEnglish);  // an existing "en" pick wins
    DefaultsDictionary stored;
    for (const auto& [language, voice] : choices)
        stored.emplace(language, DefaultsValue(voice));
    // The old key goes only once the map holding its pick is safely stored.
    if (writeSetting("voiceByLanguage", std::move(stored)))
        removeSetting("englishVoiceIdentifier");
    return choices;
}

std::string AppModel::selectedVoiceID() const
{
    const auto& choices = voiceChoices.get();
    const auto found = choices.find(theirLanguage.get().id);
    return found == choices.end() ? std::string() : found->second;
}

void AppModel::setSelectedVoiceID(const std::string& identifier)
{
    std::map<std::string, std::string> choices = voiceChoices.get();
    if (identifier.empty())
        choices.erase(theirLanguage.get().id);
    else
        choices[theirLanguage.get().id] = identifier;
    DefaultsDictionary stored;
    for (const auto& [language, voice] : choices)
        stored.emplace(language, DefaultsValue(voice));
    voiceChoices.set(std::move(choices));
    writeSetting("voiceByLanguage", std::move(stored));
}

std::vector<VoiceOption> AppModel::offeredVoices() const
{
    const std::string pick = selectedVoiceID();
    std::vector<VoiceOption> offered;
    for (const VoiceOption& voice : targetVoices.get()) {
        if (voice.quality >= 2 || (!pick.empty() && voice.id == pick))
            offered.push_back(voice);
    }
    return offered;
}

std::optional<std::string> AppModel::speakingVoiceID() const
{
    std::string pick = selectedVoiceID();
    if (!pick.empty())
        return pick;
    const auto& voices = targetVoices.get();
    if (voices.empty())
        return std::nullopt;
    return voices.front().id;
}

void AppModel::refreshVoices()
{
    const std::vector<VoiceOption> previous = targetVoices.get();
    const std::string previousLanguage = std::exchange(targetVoicesLanguage, theirLanguage.get().id);
    targetVoices.set(voiceList(theirLanguage.get()));
    const std::vector<VoiceOption> voices = targetVoices.get();
    const std::string pick = selectedVoiceID();
    if (!pick.empty() && !holdsVoice(voices, pick)) {
        setSelectedVoiceID("");
        status.set(localized("原音色已不可用，已恢复自动选择"));
    }
    if (!selectedVoiceID().empty() || voices.empty())
        return;
    // Compared with the list before this refresh: a voice is new only when
    // it was installed meanwhile (a language change lists voices of
    // another language before, none of them installed now).
    const VoiceOption& first = voices.front();
    if (holdsVoice(previous, first.id) || previousLanguage != theirLanguage.get().id)
        return;
    const std::string notice =
        localized("已检测到新的音色「%@」，%@播放已自动改用它。", nameShown(first), theirLanguage.get().displayName());
    voiceNotice.set(notice);
    status.set(notice);
}

void AppModel::dismissVoiceNotice()
{
    voiceNotice.set(std::nullopt);
}

rt::Async<void> AppModel::previewVoiceInHeadphones()
{
    if (isMicBusy() || isSpeaking.get() || isTranslatingDraft.get())
        co_return;
    if (!speakingVoiceID()) {
        errorMessage.set(
            localized("这台 Mac 没有%@音色，请先点「下载更好的音色」下载一个。", theirLanguage.get().displayName()));
        co_return;
    }
    const auto headphones = findDevice(outputDevices.get(), selectedMonitorOutputID.get());
    if (!headphones || isOwnDevice(*headphones)) {
        errorMessage.set(localized("请先选择耳机或扬声器作为试听设备。试听不会输出到 wenmora 音频设备。"));
        co_return;
    }

    const std::weak_ptr<AppModel> weak = weak_from_this();
    const std::shared_ptr<SpeechPlaying> output = speaker;
    isSpeaking.set(true);
    status.set(localized("正在耳机里试听音色…"));
    bool stopped = false;
    std::exception_ptr failure;
    try {
        co_await output->speak(theirLanguage.get().sample, std::vector<AudioObjectId>{headphones->id},
                               speakingVoiceID());
    } catch (const rt::CancellationError&) {
        stopped = true;
    } catch (...) {
        failure = std::current_exception();
    }
    if (weak.expired())
        co_return;
    if (stopped) {
        status.set(localized("已停止试听"));
    } else if (failure) {
        errorMessage.set(localized("音色试听失败：%@", describe(failure)));
        status.set(localized("试听失败，可更换音色后重试"));
    } else {
        status.set(localized("试听结束；下一句%@将使用所选音色", theirLanguage.get().displayName()));
    }
    isSpeaking.set(false);
}

}  // namespace parlaro
