#pragma once

#include <string>

namespace parlaro::settings {

// What the build says about the program: its version, and whether and where
// the update check asks (the build option PARLARO_UPDATES with the origin
// PARLARO_UPDATE_ORIGIN; off by default).
struct AppInfo {
    std::string version;
    bool updatesEnabled = false;
    std::string updateOrigin;  // "https://host", no trailing slash

    static AppInfo compiledIn();
};

}  // namespace parlaro::settings
