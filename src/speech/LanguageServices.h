#pragma once

#include "runtime/Task.h"
#include "speech/CallLanguage.h"
#include "speech/SpeechEngine.h"
#include "speech/TranslationService.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace parlaro {

// The four questions and the one download through which the rest of the
// program learns how ready a call language is. The operations may be called
// from any task; substitutes may stand in for the live ones.
struct LanguageServices {
    // Called with the fraction done, from 0 to 1, on the main actor.
    using Progress = std::function<void(double)>;

    // The recognizer that serves the language here, if any.
    std::function<rt::Async<std::optional<SpeechEngine>>(CallLanguage)> engine;
    // Whether that recognizer's model for the language is installed.
    std::function<rt::Async<bool>(CallLanguage, SpeechEngine)> speechInstalled;
    // The status of translating from source to target (BCP-47 languages).
    std::function<rt::Async<TranslationStatus>(std::string source, std::string target)> translationStatus;
    // Makes the language's recognizer model available, keeping the given
    // locales reserved. May fail.
    std::function<rt::Async<void>(CallLanguage, SpeechEngine, std::vector<std::string> keep, Progress progress)>
        downloadSpeech;

    // The operations that ask the system. No state of their own.
    static LanguageServices live();
};

namespace SpeechEngines {
// The facility serving an engine, as the status page names it.
std::string facilityLabel(SpeechEngine engine);
}  // namespace SpeechEngines

}  // namespace parlaro
