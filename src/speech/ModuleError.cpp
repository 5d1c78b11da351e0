#include "speech/ModuleError.h"

#include "speech/Localization.h"

namespace parlaro {

namespace ModuleIDs {

std::string rawValue(ModuleID id)
{
    switch (id) {
    case ModuleID::translation:
        return "translation";
    case ModuleID::recognition:
        return "recognition";
    case ModuleID::speech:
        return "speech";
    case ModuleID::callAudio:
        return "callAudio";
    case ModuleID::virtualMic:
        return "virtualMic";
    }
    return {};
}

std::optional<ModuleID> fromRawValue(std::string_view raw)
{
    for (auto id : allCases) {
        if (rawValue(id) == raw)
            return id;
    }
    return std::nullopt;
}

std::string prefix(ModuleID id)
{
    switch (id) {
    case ModuleID::translation:
        return "TR";
    case ModuleID::recognition:
        return "SR";
    case ModuleID::speech:
        return "TTS";
    case ModuleID::callAudio:
        return "CAP";
    case ModuleID::virtualMic:
        return "VM";
    }
    return {};
}

std::string title(ModuleID id)
{
    switch (id) {
    case ModuleID::translation:
        return localized("翻译");
    case ModuleID::recognition:
        return localized("语音识别");
    case ModuleID::speech:
        return localized("朗读");
    case ModuleID::callAudio:
        return localized("收听对方");
    case ModuleID::virtualMic:
        return localized("wenmora 音频设备");
    }
    return {};
}

}  // namespace ModuleIDs

std::string ModuleError::errorDescription() const
{
    return bracketed(message_, code());
}

std::string ModuleError::code() const
{
    return ModuleIDs::prefix(module_) + "-" + std::to_string(number_);
}

}  // namespace parlaro
