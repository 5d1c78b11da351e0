#pragma once

#include "platform/AudioQueue.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace parlaro {

// The buffers one queue has handed out. Each keeps float storage of at least
// its byte capacity (never none, so `data` is always valid) and carries the
// queue as its owner, which is how an enqueue tells the queue's own buffers
// from another's. Buffers stay where they are until clear(). Not thread-safe:
// the queue guards it with its own lock.
class AudioQueueBufferPool {
public:
    explicit AudioQueueBufferPool(void* owner) : owner_(owner) {}
    AudioQueueBufferPool(const AudioQueueBufferPool&) = delete;
    AudioQueueBufferPool& operator=(const AudioQueueBufferPool&) = delete;

    AudioQueueBuffer& allocate(std::uint32_t byteCapacity);
    // The buffer is one of this pool's and the audio it says it holds fits.
    bool accepts(const AudioQueueBuffer& buffer) const;
    std::size_t size() const { return entries_.size(); }
    // Frees every buffer; pointers to them dangle from here on.
    void clear() { entries_.clear(); }

private:
    struct Entry {
        AudioQueueBuffer buffer;
        std::unique_ptr<float[]> storage;
    };

    void* const owner_;
    std::vector<std::unique_ptr<Entry>> entries_;
};

}  // namespace parlaro
