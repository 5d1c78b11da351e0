#pragma once

#include "audio/SampleTimeRing.h"

#include <cstdint>
#include <memory>
#include <optional>

struct SRC_STATE_tag;

namespace parlaro {

// Converts the ring's input timeline to the output's rate with libsamplerate's
// callback interface (best sinc quality, two channels). The converter pulls
// the ring in fixed 256-frame steps from a cursor that starts `distance`
// frames behind the newest input and is put back there whenever a pull would
// leave the held window. The conversion ratio comes with every render, so the
// drift controller can trim it between cycles.
//
// Lives on the output I/O thread once created: rendering neither allocates
// nor locks. Created and destroyed off that thread.
class RingResampler {
public:
    static constexpr std::int64_t pullFrames = 256;

    struct Created {
        std::unique_ptr<RingResampler> resampler;
        // libsamplerate's error number when no converter could be made.
        int error = 0;
    };
    // `pullArea` receives the pulls: room for pullFrames stereo frames, owned
    // by the caller and kept alive as long as the resampler.
    static Created create(const SampleTimeRing& ring, std::int64_t distance, float* pullArea);

    ~RingResampler();
    RingResampler(const RingResampler&) = delete;
    RingResampler& operator=(const RingResampler&) = delete;

    // The next input sample time the converter pulls; none until placed.
    std::optional<std::int64_t> cursor() const { return cursor_; }
    // Places the cursor `distance` behind `end` unless it is placed already.
    void place(std::int64_t end);
    // Renders `frames` interleaved stereo frames at `ratio` (output rate over
    // input rate). Frames the converter did not produce are silence. Returns
    // how many it produced (negative on a converter error).
    long render(float* destination, std::int64_t frames, double ratio);

private:
    RingResampler(const SampleTimeRing& ring, std::int64_t distance, float* pullArea);
    static long pull(void* context, float** data);

    const SampleTimeRing& ring_;
    std::int64_t distance_;
    float* pullArea_;
    std::optional<std::int64_t> cursor_;
    SRC_STATE_tag* state_ = nullptr;
};

}  // namespace parlaro
