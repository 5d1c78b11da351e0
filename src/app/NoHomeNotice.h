#pragma once

#include <cstdio>

namespace parlaro {
class AppModel;
class ConversationHistory;
}  // namespace parlaro

namespace parlaro::app {

// Tells the user, once per start, what a missing home folder costs: settings
// kept in memory until quit, a history that cannot be saved. On `stream`
// (standard error) and in the error alert; nothing when neither applies.
void tellNoHomeFolder(bool settingsInMemory, const ConversationHistory& history, AppModel& model, std::FILE* stream);

}  // namespace parlaro::app
