#pragma once

#include "runtime/Task.h"
#include "speech/CallLanguage.h"

#include <optional>
#include <string>

namespace parlaro {
class AppModel;
}

namespace parlaro::ui {

// Asks the model for the pair a picker chose (the side not given stays) and
// waits for its answer. Returns why the pick was refused, for the picker to
// say where the user is; empty when it was taken, waits for a download, or
// was one the model passes over without a word (the same pair, both sides
// alike, a change already running).
rt::Async<std::string> pickLanguages(AppModel& model, std::optional<CallLanguage> mine,
                                     std::optional<CallLanguage> theirs);

}  // namespace parlaro::ui
