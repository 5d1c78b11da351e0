#pragma once

#include <string>

namespace parlaro {

// The names under which the status page and the recognition errors present
// the engines behind each module. They belong to the platform that serves the
// modules, so the application installs the names of the engines it builds;
// without that, the names below stand.
struct EngineNames {
    // Recognition, one name per engine.
    std::string speechTranscriber = "SpeechTranscriber · macOS 26";
    std::string dictationTranscriber = "DictationTranscriber · macOS 26";
    std::string onDeviceRecognizer = "SFSpeechRecognizer · macOS 15";
    // Translation through sessions made directly, and through the host.
    std::string directTranslation = "TranslationSession · macOS 26";
    std::string hostedTranslation = "translationTask · macOS 15";
    std::string speechSynthesis = "AVSpeechSynthesizer";
    std::string callAudio = "Core Audio process tap";

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
