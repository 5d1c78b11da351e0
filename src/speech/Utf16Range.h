#pragma once

#include <cstddef>

namespace parlaro {

// A stretch of text in UTF-16 code units, as recognizers report the ranges
// of their words. Nothing guarantees that it lies inside the text it is
// given with; users clamp it.
struct Utf16Range {
    std::size_t location = 0;
    std::size_t length = 0;

    bool operator==(const Utf16Range&) const = default;
};

}  // namespace parlaro
