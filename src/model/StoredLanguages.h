#pragma once

#include "platform/SettingsStore.h"
#include "speech/CallLanguage.h"

#include <utility>

namespace parlaro {

// The language pair to start with: the ids stored under "myLanguage" and
// "theirLanguage", each side falling back on the system's default pair when
// its id is missing or unknown. The two sides never come out the same: the
// side that fell back (theirs when both were stored) becomes English, or
// Spanish when the other side is English.
std::pair<CallLanguage, CallLanguage> storedLanguagePair(const SettingsStore& defaults);

}  // namespace parlaro
