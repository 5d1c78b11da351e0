#pragma once

#include <cstddef>
#include <string>

namespace parlaro::test {

// `depth` arrays, each holding the next, around `inner`: "[[[inner]]]".
inline std::string nestedArrays(std::size_t depth, const std::string& inner = "")
{
    return std::string(depth, '[') + inner + std::string(depth, ']');
}

}  // namespace parlaro::test
