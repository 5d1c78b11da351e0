#include "app/SettingsFileNotice.h"

#include "history/ConversationHistory.h"
#include "model/AppModel.h"
#include "settings/HistoryGroups.h"
#include "settings/LegacyHelperRemoval.h"
#include "speech/Localization.h"

namespace parlaro::app {

namespace {

template <DefaultsType T>
bool holds(const DefaultsValue& value)
{
    return value.holds<T>();
}

// The settings this version reads, each with the one type it reads it as:
// an entry of another type is read as absent, so the setting is at its
// default.
struct KnownSetting {
    const char* key;
    bool (*isOfItsType)(const DefaultsValue&);
};

constexpr KnownSetting knownSettings[] = {
    {"englishVoiceIdentifier", holds<std::string>},
    {"holdShortcut", holds<DefaultsData>},
    {"interfaceLanguage", holds<std::string>},
    {"myLanguage", holds<std::string>},
    {"onboardingDone", holds<bool>},
    {"parlaroPreferredLanguages", holds<DefaultsStringList>},
    {"systemMicEnabled", holds<bool>},
    {"theirLanguage", holds<std::string>},
    {"translateWhileHolding", holds<bool>},
    {"voiceByLanguage", holds<DefaultsDictionary>},
    {ConversationHistory::enabledKey, holds<bool>},
    {settings::HistoryGroups::daysKey, holds<std::int64_t>},
    {settings::legacyHelperRemovedKey, holds<bool>},
};

void showAfterWhatIsShown(AppModel& model, std::string text)
{
    if (const auto& shown = model.errorMessage.get())
        text = *shown + "\n" + text;
    model.showError(std::move(text));
}

// Entries of the wrong type are left in the file as they are: the user may
// have meant them, and writing the setting replaces them anyway.
void tellWrongTypes(const sys::JsonFileSettingsStore& defaults, AppModel& model, std::FILE* stream)
{
    std::string text;
    for (const KnownSetting& setting : knownSettings) {
        if (!defaults.has(setting.key))
            continue;
        const std::optional<DefaultsValue> stored = defaults.value(setting.key);
        if (stored && setting.isOfItsType(*stored))
            continue;
        std::fprintf(stream,
                     "parlaro: the settings file %s holds \"%s\" with a value of the wrong type; its default is in "
                     "use and the entry is left in the file.\n",
                     defaults.path().c_str(), setting.key);
        if (!text.empty())
            text += "\n";
        text += localized("设置文件 %1$@ 中的「%2$@」类型不对，现使用其默认值；该条目仍保留在文件中。",
                          pathText(defaults.path().string()), std::string(setting.key));
    }
    if (!text.empty())
        showAfterWhatIsShown(model, std::move(text));
}

}  // namespace

void tellSettingsFileProblem(const sys::JsonFileSettingsStore& defaults, AppModel& model, std::FILE* stream)
{
    const auto problem = defaults.openProblem();
    if (!problem) {
        tellWrongTypes(defaults, model, stream);
        return;
    }
    using Kind = sys::JsonFileSettingsStore::OpenProblem::Kind;
    const std::string kept = problem->keptAt.string();
    const std::string shown = pathText(kept);
    if (problem->kind == Kind::setAside) {
        std::fprintf(stream, "parlaro: the settings file %s %s; it was moved to %s and the defaults are in use.\n",
                     defaults.path().c_str(), problem->reason.c_str(), kept.c_str());
        model.showError(localized("设置文件已损坏，已另存为 %@，现使用默认设置。", shown));
        return;
    }
    std::fprintf(stream,
                 "parlaro: the settings file %s %s; it was left as it is, the defaults are in use and no change is "
                 "saved over it.\n",
                 kept.c_str(), problem->reason.c_str());
    model.showError(localized("无法读取设置文件 %@，现使用默认设置，更改不会写入该文件。", shown));
}

}  // namespace parlaro::app
