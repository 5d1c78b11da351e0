#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace parlaro::sys {

// When the end-of-utterance search may run before the audio ends. That
// search grows with the utterance, and the release of a press waits for it:
// a dense reply of ten seconds leaves a fifth of a second or more to search
// after the key goes up. Once the speaker has gone quiet, what the decoder
// holds is most likely all the utterance will say, so its words are
// searched then; the search stands for the final text when the audio ends
// with no voice after it, and is thrown away when the speaker goes on.
// Only voice the last search did not cover starts another, so a long
// silence costs one search.
class SphinxSearchAhead {
public:
    // `quietSamples` of samples all below `voiceLevel` in magnitude after
    // voice make a quiet.
    SphinxSearchAhead(std::size_t quietSamples, std::int16_t voiceLevel)
        : quietSamples_(quietSamples), voiceLevel_(voiceLevel)
    {
    }

    // The next samples the decoder heard; true where a search of all it
    // heard is due now.
    bool heard(std::span<const std::int16_t> samples);
    // A search of everything heard so far was made.
    void searched();
    // The last search covers the utterance: no voice came after it.
    bool stands() const { return searched_ && !unsearchedVoice_; }

private:
    std::size_t quietSamples_;
    std::int16_t voiceLevel_;
    std::size_t quiet_ = 0;
    bool unsearchedVoice_ = false;
    bool searched_ = false;
};

}  // namespace parlaro::sys
