#pragma once

#include <string>
#include <vector>

namespace parlaro {

// The languages the user prefers, most preferred first, as BCP-47 tags
// ("en-US", "zh-Hans-CN"). Read-only; may be empty.
class PreferredLanguages {
public:
    virtual ~PreferredLanguages() = default;
    virtual std::vector<std::string> preferredLanguages() const = 0;
};

}  // namespace parlaro
