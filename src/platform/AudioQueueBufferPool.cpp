#include "platform/AudioQueueBufferPool.h"

#include <algorithm>

namespace parlaro {

AudioQueueBuffer& AudioQueueBufferPool::allocate(std::uint32_t byteCapacity)
{
    const std::size_t floats = (std::size_t{byteCapacity} + sizeof(float) - 1) / sizeof(float);
    auto entry = std::make_unique<Entry>();
    entry->storage = std::make_unique<float[]>(std::max<std::size_t>(floats, 1));
    entry->buffer.capacity = byteCapacity;
    entry->buffer.data = entry->storage.get();
    entry->buffer.owner = owner_;
    entries_.push_back(std::move(entry));
    return entries_.back()->buffer;
}

bool AudioQueueBufferPool::accepts(const AudioQueueBuffer& buffer) const
{
    return buffer.owner == owner_ && buffer.byteSize <= buffer.capacity;
}

}  // namespace parlaro
