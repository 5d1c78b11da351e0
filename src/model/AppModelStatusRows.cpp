// The rows of the status page: for each module, the facility serving it and
// whether it is ready, and if not, why. Computed from the observable fields
// alone, so a view that shows them follows every change.

#include "model/AppModel.h"
#include "model/MessageCode.h"

#include "platform/EngineNames.h"
#include "speech/Localization.h"

namespace parlaro {

std::vector<ModuleReport> AppModel::diagnosticRows() const
{
    const CallLanguage& my = myLanguage.get();
    const CallLanguage& their = theirLanguage.get();
    const std::optional<std::string>& failureText = listeningError.get();
    // A recognition failure of listening belongs to the recognition row;
    // any other listening failure to the call-audio row.
    const bool recognitionFailed = listeningFailed.get() && failureText && carriesCodePrefix(*failureText, "SR-");

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
            state = ModuleState::needsPermission(bracketed(localized("系统录音"), "CAP-1"));
        else if (listeningFailed.get() && !recognitionFailed)
            state = ModuleState::failed(splitMessageCode(failureText).value_or("CAP-3"),
                                        failureText && !failureText->empty() ? *failureText : listeningStatus.get());
        rows.push_back({ModuleID::callAudio, EngineNames::current().callAudio, state});
    }

    // Virtual device.
    {
        const std::optional<std::string>& loaded = loadedDriverVersion.get();
        // What this system loads for the device: modules of the sound
        // server, versioned with the program; no driver of its own.
        const std::string adapter = loaded ? localized("声音服务器模块 v%@", *loaded) : localized("声音服务器模块");
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
