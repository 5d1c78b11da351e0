#include "audio/RingResampler.h"

#include <samplerate.h>

#include <algorithm>

namespace parlaro {

RingResampler::RingResampler(const SampleTimeRing& ring, std::int64_t distance, float* pullArea)
    : ring_(ring), distance_(distance), pullArea_(pullArea)
{
}

RingResampler::Created RingResampler::create(const SampleTimeRing& ring, std::int64_t distance, float* pullArea)
{
    std::unique_ptr<RingResampler> resampler(new RingResampler(ring, distance, pullArea));
    int error = 0;
    SRC_STATE* state = src_callback_new(&RingResampler::pull, SRC_SINC_BEST_QUALITY, 2, &error, resampler.get());
    if (state == nullptr) {
        return Created{nullptr, error};
    }
    resampler->state_ = state;
    return Created{std::move(resampler), 0};
}

RingResampler::~RingResampler()
{
    if (state_ != nullptr) {
        src_delete(state_);
    }
}

void RingResampler::place(std::int64_t end)
{
    if (!cursor_ && end != SampleTimeRing::emptyMarker) {
        cursor_ = end - distance_;
    }
}

long RingResampler::render(float* destination, std::int64_t frames, double ratio)
{
    const long produced = src_callback_read(state_, ratio, static_cast<long>(frames), destination);
    const std::int64_t from = std::max<std::int64_t>(produced, 0);
    std::fill(destination + 2 * from, destination + 2 * frames, 0.0f);
    return produced;
}

long RingResampler::pull(void* context, float** data)
{
    auto* self = static_cast<RingResampler*>(context);
    if (self == nullptr || data == nullptr) {
        return 0;
    }
    const std::int64_t end = self->ring_.end();
    if (end == SampleTimeRing::emptyMarker) {
        // Nothing captured yet and nowhere to place the cursor: feed silence.
        std::fill(self->pullArea_, self->pullArea_ + 2 * pullFrames, 0.0f);
        *data = self->pullArea_;
        return pullFrames;
    }
    std::int64_t cursor = self->cursor_.value_or(end - self->distance_);
    const bool valid = end >= cursor + pullFrames && cursor >= end - SampleTimeRing::capacity + pullFrames;
    if (!valid) {
        cursor = end - self->distance_;
    }
    self->ring_.read(self->pullArea_, pullFrames, cursor);
    self->cursor_ = cursor + pullFrames;
    *data = self->pullArea_;
    return pullFrames;
}

}  // namespace parlaro
