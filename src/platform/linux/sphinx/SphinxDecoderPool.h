#pragma once

#include "platform/linux/sphinx/SphinxInputLearning.h"
#include "platform/linux/sphinx/SphinxSpeechRecognizer.h"

#include <pocketsphinx.h>

#include "runtime/ThreadSerialQueue.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace parlaro::sys {

// The loaded decoders of one model, on its decoding thread: those idle, and
// what each heard last and how far it learnt that input. A decoder is lent
// to one task (or one follower) at a time and given back; every decoder,
// lent or not, is freed with the pool.
//
// Loading a decoder reads the whole model, a second or more on a busy
// computer. The followers' decoders were loaded on the decoding thread half
// a second into a new source's first utterance, which then stood still for
// two loads while the speaker went on: a first caption waited that long
// again. They are loaded on a thread of their own as soon as a source
// without an estimate is taken, while its quiet or its first words are
// decoded.
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
    // A decoder no source is waiting for: an idle one that heard none, one
    // loaded ahead (waited for while it loads), or a new one. None when the
    // model cannot be loaded.
    ps_decoder_t* spare();
    // How many decoders spare() gives without loading or waiting for one.
    std::size_t sparesReady();
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
    // Loads as many decoders as there are likely estimates to follow at,
    // less those idle that heard no source, each on a loading thread of its
    // own.
    void loadSpares();

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
    // Decoders asked of the loading threads and not yet lent.
    std::size_t loading_ = 0;
    std::mutex loadedMutex_;
    std::condition_variable loadedChanged_;
    // Loaded there, as they came (none where a load failed).
    std::vector<ps_decoder_t*> loaded_;
    // Last: their threads end before what their jobs touch goes.
    std::vector<std::unique_ptr<rt::ThreadSerialQueue>> loaders_;
};

}  // namespace parlaro::sys
