#include "platform/linux/sphinx/SphinxSearchAhead.h"

#include <cstdlib>

namespace parlaro::sys {

bool SphinxSearchAhead::heard(std::span<const std::int16_t> samples)
{
    for (const std::int16_t sample : samples) {
        // Widened first: the magnitude of the lowest sample does not fit.
        if (std::abs(static_cast<int>(sample)) >= voiceLevel_) {
            quiet_ = 0;
            unsearchedVoice_ = true;
        } else {
            ++quiet_;
        }
    }
    return unsearchedVoice_ && quiet_ >= quietSamples_;
}

void SphinxSearchAhead::searched()
{
    searched_ = true;
    unsearchedVoice_ = false;
}

}  // namespace parlaro::sys
