#pragma once

#include "runtime/Task.h"

#include <string>

namespace parlaro {

// Whether the system can translate from one language into another.
// Languages are BCP-47 identifiers ("en", "zh-Hans", "pt-BR").
class LanguageAvailability {
public:
    enum class Status {
        installed,    // the pair's pack is on the computer
        supported,    // the pair can be translated once its pack is installed
        unsupported,  // the system cannot translate this pair
        other,        // an answer this program does not know
    };

    virtual ~LanguageAvailability() = default;

    // Never fails.
    virtual rt::Async<Status> status(std::string source, std::string target) = 0;
};

}  // namespace parlaro
