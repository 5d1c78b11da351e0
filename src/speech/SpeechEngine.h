#pragma once

#include <array>
#include <optional>
#include <string>

namespace parlaro {

// The recognizer that serves a call language on this computer. An absent
// engine (std::nullopt) means nothing here can recognize the language.
enum class SpeechEngine {
    speech,     // the analyzer session with the general transcriber
    dictation,  // the analyzer session with the dictation transcriber
    onDevice,   // the on-device recognizer session
};

// The speech module a model download or model check is about.
struct SpeechModule {
    enum class Kind { speechTranscriber, dictationTranscriber };
    enum class Preset { progressiveTranscription, progressiveLongDictation };

    Kind kind;
    std::string locale;
    Preset preset;

    bool operator==(const SpeechModule&) const = default;
};

namespace SpeechEngines {

inline constexpr std::array<SpeechEngine, 3> allCases{SpeechEngine::speech, SpeechEngine::dictation,
                                                      SpeechEngine::onDevice};

// The module of an engine for model management: dictation gives the
// long-dictation transcriber, every other engine the progressive one.
SpeechModule speechModule(SpeechEngine engine, const std::string& locale);

// How the session factory names a newer engine when this system cannot run
// it; none for the on-device engine, which runs everywhere.
std::optional<std::string> factoryLabel(SpeechEngine engine);

}  // namespace SpeechEngines
}  // namespace parlaro
