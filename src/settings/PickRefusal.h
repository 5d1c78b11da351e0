#pragma once

#include "runtime/Task.h"
#include "speech/CallLanguage.h"

#include <memory>
#include <optional>
#include <string>

class QLabel;

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

// Makes the pick on the model and, once it has answered, tells a refusal in
// `note` under the pickers, each time; a pick taken hides the note. The note
// may be gone by then.
void pickAndTell(const std::shared_ptr<AppModel>& model, std::optional<CallLanguage> mine,
                 std::optional<CallLanguage> theirs, QLabel* note);

}  // namespace parlaro::ui
