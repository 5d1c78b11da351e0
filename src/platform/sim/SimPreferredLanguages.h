#pragma once

#include "platform/PreferredLanguages.h"

#include <mutex>

namespace parlaro::sim {

class SimPreferredLanguages : public PreferredLanguages {
public:
    SimPreferredLanguages() = default;
    explicit SimPreferredLanguages(std::vector<std::string> languages);

    std::vector<std::string> preferredLanguages() const override;
    void setPreferredLanguages(std::vector<std::string> languages);

private:
    mutable std::mutex mutex_;
    std::vector<std::string> languages_;
};

}  // namespace parlaro::sim
