#pragma once

#include "platform/sim/SimResourceBundles.h"

#include <string>

namespace parlaro::test {

// Puts the program's own string tables of one interface language (every
// file of resources/i18n/<code>) into the sim, so a test sees the texts a
// user of that language sees.
void loadStringTables(sim::SimResourceBundles& bundles, const std::string& code);

}  // namespace parlaro::test
