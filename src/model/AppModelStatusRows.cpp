// The rows of the status page: for each module, the facility serving it and
// whether it is ready, and if not, why. Computed from the observable fields
// alone, so a view that shows them follows every change.

#include "model/AppModel.h"

#include "platform/EngineNames.h"
#include "speech/Localization.h"

#include <string_view>

namespace parlaro {

namespace {

constexpr std::string_view openBracket = "（";
constexpr std::string_view closeBracket = "）";

// Upper-case ASCII letters, a hyphen, ASCII digits: nothing else, so a
// full-width digit or a lower-case code is no code.
bool isModuleCode(std::string_view text)
{
    const std::size_t hyphen = text.find('-');
    if (hyphen == std::string_view::npos || hyphen == 0 || hyphen + 1 == text.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool fits = i < hyphen ? (c >= 'A' && c <= 'Z') : i == hyphen || (c >= '0' && c <= '9');
        if (!fits)
            return false;
    }
    return true;
}

}  // namespace

std::optional<std::string> AppModel::splitMessageCode(const std::optional<std::string>& text)
{
    if (!text)
        return std::nullopt;
    const std::string_view whole = *text;
    const std::size_t open = whole.rfind(openBracket);
    const std::size_t close = whole.rfind(closeBracket);
    if (open == std::string_view::npos || close == std::string_view::npos)
        return std::nullopt;
    const std::size_t start = open + openBracket.size();
    if (start > close)
        return std::nullopt;
    const std::string_view candidate = whole.substr(start, close - start);
    if (!isModuleCode(candidate))
        return std::nullopt;
    return std::string(candidate);
}

std::vector<ModuleReport> AppModel::diagnosticRows() const
{
    const CallLanguage& my = myLanguage.get();
    const CallLanguage& their = theirLanguage.get();
    const std::optional<std::string>& failureText = listeningError.get();
    // A recognition failure of listening belongs to the recognition row;
    // any other listening failure to the call-audio row.
    const bool recognitionFailed = listeningFailed.get() && failureText
        && failureText->find(std::string(openBracket) + "SR-") != std::string::npos;

    std::vector<ModuleReport> rows;
    rows.reserve(ModuleIDs::allCases.size());

    // Translation.
    {
        const std::string pair = localized("%@ ⇄ %@", their.displayName(), my.displayName());
        ModuleState state = ModuleState::needsDownload(localized("%@翻译包", pair));
        const auto& menu = theirMenu.get();
        if (translationReady.get())
            state = ModuleState::ready();
        else if (const auto found = menu.find(their.id); found != menu.end() && !found->second.translationSupported)
            state = ModuleState::unsupported(localized("苹果翻译不支持%@", pair));
        rows.push_back({ModuleID::translation, translator->adapterName(), state});
    }

    // Recognition.
    {
        const std::optional<SpeechEngine> engine = myEngine.get() ? myEngine.get() : theirEngine.get();
        const std::string adapter = engine ? SpeechEngines::facilityLabel(*engine) : "—";
        ModuleState state = ModuleState::ready();
        // One side without a recognizer is a limit of this computer, said
        // like the other side's; only a pair with neither is a failure.
        if (!myEngine.get() && !theirEngine.get())
            state = ModuleState::failed("SR-1", localized("本机无法识别%@", my.displayName()));
        else if (recognitionFailed)
            state = ModuleState::failed(splitMessageCode(failureText).value_or("SR-5"), *failureText);
        else if (!speechReady())
            state = ModuleState::needsDownload(localized("语音识别模型"));
        else if (!myEngine.get())
            state = ModuleState::unsupported(localized("本机无法识别%@", my.displayName()));
        else if (!theirEngine.get())
            state = ModuleState::unsupported(localized("本机无法识别%@", their.displayName()));
        rows.push_back({ModuleID::recognition, adapter, state});
    }

    // Speech.
    rows.push_back({ModuleID::speech, EngineNames::current().speechSynthesis,
                    targetVoices.get().empty()
                        ? ModuleState::failed("TTS-1", localized("没有%@音色", their.displayName()))
                        : ModuleState::ready()});

    // Call audio.
    {
        ModuleState state = ModuleState::ready();
        if (audioCaptureMissing.get())
            state = ModuleState::needsPermission(localized("系统录音") + "（CAP-1）");
        else if (listeningFailed.get() && !recognitionFailed)
            state = ModuleState::failed(splitMessageCode(failureText).value_or("CAP-3"),
                                        failureText && !failureText->empty() ? *failureText : listeningStatus.get());
        rows.push_back({ModuleID::callAudio, EngineNames::current().callAudio, state});
    }

    // Virtual device.
    {
        const std::optional<std::string>& loaded = loadedDriverVersion.get();
        const std::string adapter = loaded ? localized("驱动 v%@", *loaded) : localized("驱动");
        const std::optional<std::string> carried = bundledDriverVersion ? bundledDriverVersion() : std::nullopt;
        ModuleState state = ModuleState::ready();
        if (!virtualMicStatus())
            state = ModuleState::failed("VM-1", localized("未安装 wenmora 音频设备"));
        else if (virtualMicNeedsUpdate.get())
            state = ModuleState::failed("VM-2", localized("需要更新驱动"));
        else if (carried && loaded != carried)
            state = ModuleState::failed("VM-3", localized("驱动已更新，系统仍在使用旧版本，请重启电脑"));
        rows.push_back({ModuleID::virtualMic, adapter, state});
    }
    return rows;
}

}  // namespace parlaro
