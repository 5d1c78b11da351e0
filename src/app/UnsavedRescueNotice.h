#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <vector>

namespace parlaro {
class AppModel;
struct ConversationSession;
}  // namespace parlaro

namespace parlaro::app {

// Puts the conversations an earlier run could not save in the history
// when it was ended back into it through `save` (true once the history
// holds one), and says so: how many came back, and, once, how many are
// still elsewhere and where; on `stream` (standard error) and in the error
// alert, after whatever the alert already says.
void tellRescuedConversations(const std::vector<std::filesystem::path>& places,
                              const std::function<bool(const ConversationSession&)>& save, AppModel& model,
                              std::FILE* stream);

}  // namespace parlaro::app
