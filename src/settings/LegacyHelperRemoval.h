#pragma once

#include "platform/CommandRunner.h"
#include "platform/ProcessTable.h"
#include "platform/SettingsStore.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <sys/types.h>
#include <vector>

namespace parlaro::settings {

// What the clean-up of the older background helper touches: files under the
// home folder, the user's service manager, this user's processes and the
// settings (safe from any thread). It keeps no state of its own.
struct LegacyHelperHost {
    std::filesystem::path home;
    SettingsStore* defaults = nullptr;
    CommandRunner* runner = nullptr;
    ProcessTable* processes = nullptr;
    uid_t user = 0;
    std::function<void(std::chrono::milliseconds)> sleep;
};

inline constexpr const char* legacyHelperRemovedKey = "legacyHelperRemoved";

// Once per installation: unless the settings say it was done, runs the
// clean-up on a background thread and returns at once. Nothing waits for it.
void removeLegacyHelper(LegacyHelperHost host);

// The clean-up itself; blocks (up to 2 s waiting for the helper to go).
// Every step ignores its own failure. The done flag is set only when the
// service is no longer active and no helper process is left.
void performLegacyHelperRemoval(const LegacyHelperHost& host);

// This user's processes named exactly "ParlaroHelper".
std::vector<pid_t> legacyHelperProcessIDs(const LegacyHelperHost& host);

}  // namespace parlaro::settings
