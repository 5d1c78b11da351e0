#include "platform/sim/SimPreferredLanguages.h"

namespace parlaro::sim {

SimPreferredLanguages::SimPreferredLanguages(std::vector<std::string> languages) : languages_(std::move(languages))
{
}

std::vector<std::string> SimPreferredLanguages::preferredLanguages() const
{
    std::lock_guard lock(mutex_);
    return languages_;
}

void SimPreferredLanguages::setPreferredLanguages(std::vector<std::string> languages)
{
    std::lock_guard lock(mutex_);
    languages_ = std::move(languages);
}

}  // namespace parlaro::sim
