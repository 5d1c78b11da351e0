#pragma once

#include "platform/linux/sphinx/SphinxInputLearning.h"
#include "platform/linux/sphinx/SphinxSpeechRecognizer.h"

#include <pocketsphinx.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace parlaro::sys {

// The loaded decoders of one model, on its decoding thread: those idle, and
// what each heard last and how far it learnt that input. A decoder is lent
// to one task (or one follower) at a time and given back; every decoder,
// lent or not, is freed with the pool.
class SphinxDecoderPool {
public:
    SphinxDecoderPool(SphinxModel model, std::shared_ptr<SphinxSpeechRecognitionService::Counts> counts,
                      std::shared_ptr<SphinxChannelFile> channels);
    ~SphinxDecoderPool();
    SphinxDecoderPool(const SphinxDecoderPool&) = delete;
    SphinxDecoderPool& operator=(const SphinxDecoderPool&) = delete;

    // An idle decoder that last heard `source` if there is one; otherwise
    // any idle one or a new one, which is new to the source and starts it
    // from what an earlier run learnt about it, or else learns it anew.
    // None when the model cannot be loaded.
    ps_decoder_t* take(const std::string& source);
    // A decoder no source is waiting for: an idle one that heard none, or
    // a new one.
    ps_decoder_t* spare();
    void giveBack(ps_decoder_t* decoder) { idle_.push_back(decoder); }

    // The estimate the model's decoders start from; empty before one loaded.
    const std::vector<float>& modelStart() const { return modelStart_; }

    // What the decoder heard last (see SphinxInputLearning).
    SphinxInputLearning& learningOf(ps_decoder_t* decoder) { return heard_[decoder]; }
    // The decoder heard no source, or none that it may be trusted with.
    void forget(ps_decoder_t* decoder) { heard_.erase(decoder); }

    // pocketsphinx builds the lattice of an utterance not yet ended from
    // its table of where each frame's word ends begin, and where no
    // sentence end left the last frame it reads the entry one past it,
    // which only the next frame writes. That entry holds what an earlier
    // utterance left there, or zero within the table's first
    // `firstFrameTable` frames; past them, where the table grew and no
    // utterance of this decoder reached yet, it holds anything at all, and
    // the library reads far outside its tables. So a lattice is built
    // before the end only within the frames this tells.
    std::int32_t framesReached(ps_decoder_t* decoder) const;
    // Keeps how far the utterance the decoder just ended reached.
    void ended(ps_decoder_t* decoder);
    static constexpr std::int32_t firstFrameTable = 256;

private:
    ps_decoder_t* load();

    const SphinxModel model_;
    const std::shared_ptr<SphinxSpeechRecognitionService::Counts> counts_;
    const std::shared_ptr<SphinxChannelFile> channels_;
    // The estimate the model's decoders start from.
    std::vector<float> modelStart_;
    std::vector<ps_decoder_t*> decoders_;
    std::vector<ps_decoder_t*> idle_;
    // What each decoder heard last, and how far it learnt that input.
    std::map<ps_decoder_t*, SphinxInputLearning> heard_;
    std::map<ps_decoder_t*, std::int32_t> framesReached_;
};

}  // namespace parlaro::sys
