#pragma once

// One reply of a speech synthesizer as its thread hands it over, and a wait
// for it to begin or end; the synthesizer's tests, its fuzz target and its
// soak benchmark all follow replies this way.

#include "platform/SpeechSynthesizer.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace parlaro::test {

// A piece many times over, as the long runs of hostile replies are made.
inline std::string repeated(std::string_view piece, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

struct SpokenReply {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<PcmBuffer> buffers;
    bool begun = false;
    bool ended = false;
    // It ended with the failure mark: the voice could not speak it.
    bool failed = false;

    SpeechSynthesizer::BufferCallback callback()
    {
        return [this](const PcmBuffer& buffer) {
            std::lock_guard lock(mutex);
            if (buffer.frameLength() == 0) {
                ended = true;
                failed = isRenderFailureMark(buffer);
            } else {
                begun = true;
                buffers.push_back(buffer);
            }
            changed.notify_all();
        };
    }
    // Until the reply ends, or, given `begun`, until its first sound; the
    // bound only guards against a hang.
    bool waitFor(bool SpokenReply::*what = &SpokenReply::ended, std::chrono::seconds bound = std::chrono::seconds(30))
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, bound, [&] { return this->*what || ended; });
    }
};

}  // namespace parlaro::test
