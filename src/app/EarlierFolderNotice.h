#pragma once

#include "platform/ProgramFolder.h"

#include <cstdio>
#include <vector>

namespace parlaro {
class AppModel;
}

namespace parlaro::app {

// Tells the user, once, what bringing an earlier version's settings and
// history over could not do as asked (an entry left where it was, an
// earlier settings file kept aside), which of the user's folders was
// passed over, and which of the program's files could not be read and what
// became of them. On `stream` (standard error) and in the error alert, after
// whatever the alert already says.
void tellEarlierEntries(const std::vector<EarlierEntryNote>& notes, AppModel& model, std::FILE* stream);

}  // namespace parlaro::app
