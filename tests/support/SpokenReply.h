#pragma once

// One reply of a speech synthesizer as its thread hands it over, and a wait
// for it to begin or end; the synthesizer's tests, its fuzz target and its
// soak benchmark all follow replies this way.

#include "platform/SpeechSynthesizer.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace parlaro::test {

struct SpokenReply {
    // How long a wait may take before it is a hang. Each user says: the
    // tests stretch theirs as every real-part wait is stretched, which the
    // benchmark cannot link.
    explicit SpokenReply(std::chrono::duration<double> bound) : bound(bound) {}

    const std::chrono::duration<double> bound;
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
    // Until the reply ends, or, given `begun`, until its first sound; false
    // once the bound ran out.
    bool waitFor(bool SpokenReply::*what = &SpokenReply::ended)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, bound, [&] { return this->*what || ended; });
    }
};

}  // namespace parlaro::test
