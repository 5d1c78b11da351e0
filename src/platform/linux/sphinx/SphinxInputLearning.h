#pragma once

#include "platform/linux/sphinx/SphinxChannelFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ps_decoder_s;

namespace parlaro::sys {

// What a decoder heard last, and how far it learnt that input's channel:
// the source, an estimate of it (kept by an earlier run, or taught by the
// source's first utterance) while that is still to be confirmed, and
// whether the decoder's estimate of the source has settled. The engine
// keeps one per decoder; a decoder with none heard no source yet. Why and
// when a decoder learns is told at SphinxUtteranceLearning.
struct SphinxInputLearning {
    // Speech frames (a hundredth of a second each) behind an estimate that
    // make it hold: about three seconds of speech, a reply or two.
    static constexpr std::int32_t framesToTrust = 300;
    // Fewer frames than this tell nothing of how a source sounds.
    static constexpr std::int32_t framesToJudge = 50;

    std::string source;
    std::optional<ChannelMean> kept;
    bool settled = false;
    // How the source sounds, as far as the decoder learnt it.
    std::vector<float> sound;
    // The audio of the utterance that taught `kept`, where no earlier run
    // kept one; gone once the estimate settles.
    std::vector<std::int16_t> spoken;
    // Where the source's first likeliest reading was decoded (see
    // SphinxUtteranceLearning::decodeAtLikeliest), once one was: what the
    // decoder normalises by from the next utterance on.
    std::vector<float> heardAt;

    // What one utterance the decoder was still learning from did.
    struct Lesson {
        // Long enough to judge what the decoder normalises by, which is
        // then worth keeping for the next run.
        bool judged = true;
        // It moved the estimate enough to decode the utterance again.
        bool again = false;
    };

    // Learns from the utterance the decoder just ended, `heard` its audio,
    // `learnt` what its sums hold and `start` the estimate it began with:
    // settles a kept estimate, or takes what a source without one taught
    // as the estimate still to be confirmed. Sets the decoder's estimate
    // to what it now knows.
    Lesson learnFrom(ps_decoder_s* decoder, const std::string& heardFrom, const ChannelMean& learnt,
                     const std::vector<std::int16_t>& heard, const std::vector<float>& start);

    // The utterance the decoder just ended was read at `chosenAt` (empty
    // where the decoder's own reading stood): from the next utterance on,
    // the decoder normalises by where the source's first likeliest reading
    // was decoded, rather than by the mean of every frame it heard. A
    // second utterance's followers stand on the speech of both, which
    // moved the estimate as far as the mean of every frame would. That mean
    // lies near the mean of the source's speech, where the model hears
    // some replies' first words otherwise than at the likeliest estimate:
    // the same reply, held again, lost its opening ("Could you" heard as
    // "Today's"). The decoder's sums go on learning every frame, which is
    // what is kept for the next run and what another source starts from.
    void carryOver(ps_decoder_s* decoder, std::vector<float> chosenAt);

    // Whether two estimates differ by no more than decoding with one or the
    // other changes what is heard.
    static bool near(const std::vector<float>& a, const std::vector<float>& b);

    // Whether a decoder of the model could have learnt the estimate:
    // `modelStart` is the estimate its decoders start from.
    static bool learnable(const std::vector<float>& mean, const std::vector<float>& modelStart);
};

}  // namespace parlaro::sys
