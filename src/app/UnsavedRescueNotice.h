#pragma once

#include <cstdio>
#include <filesystem>
#include <vector>

namespace parlaro {
class AppModel;
}

namespace parlaro::app {

// Tells the user, once, where conversations went that an earlier run could
// not save in the history when it was ended: on `stream` (standard error)
// and in the error alert, after whatever the alert already says. Nothing
// when no rescue place holds any the user has not heard of.
void tellRescuedConversations(const std::vector<std::filesystem::path>& places, AppModel& model, std::FILE* stream);

}  // namespace parlaro::app
