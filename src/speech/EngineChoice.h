#pragma once

#include "runtime/Task.h"
#include "speech/SpeechEngine.h"

#include <optional>
#include <string>

namespace parlaro::SpeechEngines {

// The recognizer for a locale (BCP-47). On the newer platform the analyzer
// engines decide whenever either transcriber is usable at all, so a locale
// they do not support gets none even if the on-device recognizer knows it;
// the on-device recognizer serves only where neither transcriber is usable,
// and on older systems. Never fails.
rt::Async<std::optional<SpeechEngine>> preferred(std::string locale);

// Whether the engine's model for the locale is on this computer. False for a
// locale the engine does not know, and for the analyzer engines on older
// systems. Never fails.
rt::Async<bool> isInstalled(SpeechEngine engine, std::string locale);

}  // namespace parlaro::SpeechEngines
