#pragma once

#include "speech/SpeechEngine.h"

#include <optional>
#include <string>

namespace parlaro {

// How ready one call language is on this computer, for one side of the call:
// its recognizer and that recognizer's model, and the translation pack of the
// language pair in question. Voices are not part of it.
struct LanguageReadiness {
    // The recognizer that serves the language here; none when nothing does.
    std::optional<SpeechEngine> engine;
    bool speechInstalled = false;
    // The pack of the pair (this language and the other side's) is installed.
    bool translationInstalled = false;
    // The pair can be translated at all, installed or after a download.
    bool translationSupported = false;

    bool operator==(const LanguageReadiness&) const = default;

    // The short note shown after the language's name in the menus, empty when
    // there is nothing to say. `mine`: the readiness is that of the user's own
    // side, which needs recognition to speak at all.
    std::string label(bool mine) const;
};

}  // namespace parlaro
