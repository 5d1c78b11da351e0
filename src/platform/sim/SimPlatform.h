#pragma once

#include "platform/Platform.h"
#include "platform/sim/SimPreferredLanguages.h"
#include "platform/sim/SimResourceBundles.h"
#include "platform/sim/SimSettingsStore.h"
#include "platform/sim/SimTextServices.h"

namespace parlaro::sim {

// The simulated process-wide services, installed for the object's lifetime.
// By default the system prefers Simplified Chinese and every interface
// language has an empty table, so texts read as their keys.
class SimPlatform {
public:
    SimPlatform();
    SimPlatform(const SimPlatform&) = delete;
    SimPlatform& operator=(const SimPlatform&) = delete;

    SimSettingsStore defaults;
    SimPreferredLanguages preferredLanguages{{"zh-Hans-CN"}};
    SimTextServices text;
    SimResourceBundles bundles;

private:
    PlatformScope scope_;
};

}  // namespace parlaro::sim
