#pragma once

#include <string_view>

namespace parlaro::settings {

// 1 to 4 pieces separated by ".", each 1 to 6 digits.
bool versionIsValid(std::string_view version);

// Compares piece by piece from the left, empty pieces dropped, a missing
// piece counting 0. A piece that is no number, or too large to hold, counts
// 0 rather than failing: the running version may come from anywhere.
bool isVersionNewer(std::string_view version, std::string_view than);

}  // namespace parlaro::settings
