#pragma once

#include "platform/TranscriberModule.h"
#include "runtime/Task.h"
#include "speech/SpeechEngine.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace parlaro {

// Speech models of the analyzer engines: which transcriber serves a locale,
// whether its model is installed, and downloading it while keeping within
// the system's limit of reserved locales. Stateless; the reservations belong
// to the platform. Locales are BCP-47 identifiers and match only when equal,
// character for character ("pt" never matches "pt-BR").
class SpeechModels {
public:
    // Called with the fraction done, from 0 to 1, on the main actor.
    using Progress = std::function<void(double)>;

    // The transcriber's own supported locale equal to `locale`, or none.
    static rt::Async<std::optional<std::string>> supportedLocale(std::string locale, bool dictation);

    // `speech` when the general transcriber runs here and supports the
    // locale, else `dictation` when the dictation transcriber supports it,
    // else none.
    static rt::Async<std::optional<SpeechEngine>> engine(std::string locale);

    // Listed as installed by the engine's transcriber, or reported installed
    // by the model store. False for an unsupported locale.
    static rt::Async<bool> isInstalled(std::string locale, SpeechEngine engine);

    // Downloads and installs the model. At the reservation limit, first
    // releases every reserved locale that is neither this one nor kept.
    // Progress comes at once, then every 0.2 s, and 1.0 exactly once at the
    // end of a successful download, after which no other report follows.
    // Throws ModuleError SR-1 for an unsupported locale; the platform's
    // errors pass through unchanged and then no 1.0 is reported.
    static rt::Async<void> installAssets(std::string locale, SpeechEngine engine, std::vector<std::string> keeping,
                                         Progress progress);

    // The module that names the model of a locale for an engine.
    static TranscriberModule modelModule(SpeechEngine engine, const std::string& locale);
};

}  // namespace parlaro
