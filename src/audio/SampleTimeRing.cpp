#include "audio/SampleTimeRing.h"

#include <algorithm>

namespace parlaro {

static_assert(std::atomic<float>::is_always_lock_free, "the ring's samples must be lock-free");
static_assert(std::atomic<std::int64_t>::is_always_lock_free, "the ring's end must be lock-free");

SampleTimeRing::SampleTimeRing() : samples_(new std::atomic<float>[2 * capacity]())
{
}

void SampleTimeRing::write(const StereoSource& source, std::int64_t count, std::int64_t at)
{
    if (count < 1 || source.left == nullptr) {
        return;
    }
    const float* right = source.right != nullptr ? source.right : source.left;
    const std::size_t rightStride = source.right != nullptr ? source.rightStride : source.leftStride;
    for (std::int64_t i = 0; i < count; ++i) {
        const auto frame = static_cast<std::size_t>(i);
        const auto index = static_cast<std::size_t>((at + i) & mask);
        samples_[2 * index].store(source.left[frame * source.leftStride], std::memory_order_relaxed);
        samples_[2 * index + 1].store(right[frame * rightStride], std::memory_order_relaxed);
    }
    end_.store(at + count, std::memory_order_release);
}

void SampleTimeRing::write(std::span<const AudioIOBuffer> buffers, std::int64_t count, std::int64_t at)
{
    if (buffers.empty() || buffers[0].data == nullptr) {
        return;
    }
    const AudioIOBuffer& first = buffers[0];
    StereoSource source;
    source.left = first.data;
    source.leftStride = std::max<std::uint32_t>(first.channels, 1);
    if (first.channels >= 2) {
        source.right = first.data + 1;
        source.rightStride = first.channels;
    } else if (buffers.size() > 1 && buffers[1].data != nullptr) {
        const std::uint32_t stride = std::max<std::uint32_t>(buffers[1].channels, 1);
        if (buffers[1].byteSize / (stride * 4) >= count) {
            source.right = buffers[1].data;
            source.rightStride = stride;
        }
    }
    write(source, count, at);
}

std::int64_t SampleTimeRing::read(float* destination, std::int64_t count, std::int64_t from) const
{
    const std::int64_t end = this->end();
    std::int64_t copied = 0;
    for (std::int64_t i = 0; i < count; ++i) {
        const std::int64_t t = from + i;
        float* out = destination + 2 * i;
        if (holds(end, t)) {
            const auto index = static_cast<std::size_t>(t & mask);
            out[0] = samples_[2 * index].load(std::memory_order_relaxed);
            out[1] = samples_[2 * index + 1].load(std::memory_order_relaxed);
            ++copied;
        } else {
            out[0] = 0.0f;
            out[1] = 0.0f;
        }
    }
    return copied;
}

}  // namespace parlaro
