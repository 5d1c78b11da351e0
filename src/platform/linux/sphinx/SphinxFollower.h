#pragma once

#include "runtime/ThreadSerialQueue.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

struct ps_decoder_s;

namespace parlaro::sys {

// A decoder that follows an utterance as it is spoken, at a channel
// estimate of its own, on a thread of its own. On the decoding thread, two
// of them beside the utterance's own decoder tripled that thread's work: a
// computer busy on every core left it seconds behind the speaker, and the
// final text waited for all of it. Here each catches up on its own share
// of the processors, and the engine waits for them only for the last
// search.
//
// The engine calls every member from its decoding thread; the decoder is
// touched by the follower's thread alone from startAt until stop returns.
class SphinxFollower {
public:
    // The decoder it follows with until stop gives it back.
    explicit SphinxFollower(ps_decoder_s* decoder);

    ps_decoder_s* decoder() const { return decoder_; }
    // The estimate the utterance was last started at.
    const std::vector<float>& at() const { return at_; }
    bool following() const { return following_; }

    // Starts the utterance again at `at` from `heard`, its audio so far;
    // what was handed over for the earlier start is dropped unheard.
    void startAt(std::vector<float> at, std::vector<std::int16_t> heard);
    // The next samples of the utterance.
    void hear(std::shared_ptr<const std::vector<std::int16_t>> samples);
    // Ends the utterance once everything handed over is heard: the last
    // search runs beside the other decoders'.
    void finish();
    // Finishes it and waits until the last search is done; true where the
    // utterance was decoded to its end, and the decoder's hypothesis is
    // then the engine's to read.
    bool end();
    // Leaves the utterance, dropping what was not heard yet, and gives the
    // decoder back once the step under way is done.
    ps_decoder_s* stop();

private:
    ps_decoder_s* decoder_;
    std::vector<float> at_;
    bool following_ = false;
    bool finishing_ = false;
    // A job from an earlier start finds another generation and does nothing.
    std::atomic<std::uint64_t> generation_{0};
    // The follower's thread only, but for the engine inside a sync.
    bool started_ = false;
    bool failed_ = false;
    bool decoded_ = false;
    // Last: its thread ends before what its jobs touch goes.
    rt::ThreadSerialQueue queue_{"sphinx-follow"};
};

}  // namespace parlaro::sys
