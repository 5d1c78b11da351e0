#pragma once

#include <string>

namespace parlaro {

// The names under which the status page and the recognition errors present
// the engines behind each module. They belong to the platform that serves the
// modules, so the application installs the names of the engines it builds;
// without that (the simulated machine and the tests), the simulated engines'
// names below stand: never those of engines the program does not run.
struct EngineNames {
    // Recognition, one name per engine.
    std::string speechTranscriber = "Simulated speech transcriber";
    std::string dictationTranscriber = "Simulated dictation transcriber";
    std::string onDeviceRecognizer = "Simulated on-device recognizer";
    // Translation through sessions made directly, and through the host.
    std::string directTranslation = "Simulated translation session";
    std::string hostedTranslation = "Simulated hosted translation";
    std::string speechSynthesis = "Simulated speech synthesizer";
    std::string callAudio = "Simulated call audio capture";

    bool operator==(const EngineNames&) const = default;

    // The installed names; the ones above when none are installed.
    static const EngineNames& current();
};

// Installs engine names for the lifetime of the scope, restoring the previous
// ones afterwards.
class EngineNamesScope {
public:
    explicit EngineNamesScope(EngineNames names);
    ~EngineNamesScope();
    EngineNamesScope(const EngineNamesScope&) = delete;
    EngineNamesScope& operator=(const EngineNamesScope&) = delete;

private:
    EngineNames previous_;
};

}  // namespace parlaro
