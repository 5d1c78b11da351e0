// The voice picks per call language.

#include "model/AppModel.h"

namespace parlaro {

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

} // namespace parlaro
