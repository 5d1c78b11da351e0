#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace parlaro {

// Cuts a microphone stream into level windows that run on across buffers.
// Cutting each buffer from its own first frame would leave a short window at
// the end of almost every buffer (a 512-frame buffer is 480 + 32 frames at
// 48 kHz), doubling the windows the echo gate weighs; here a window left open
// at the end of a buffer is finished by the next one, so the stream is
// measured as if it had come in one piece.
//
// A buffer continues the stream when it has the same rate and window and
// starts where the stream's frames say it should, give or take a quarter of a
// window (host time stamps jitter); its times are then taken from the stream,
// so they add up exactly. Any other buffer starts a new stream and closes the
// open window as a shorter one.
class MicWindows {
public:
    // A whole window: its times and the level of its samples.
    struct Window {
        double start;
        double end;
        double micDB;
    };

    // Cuts `frames` samples of channel 0 (`stride` apart) starting at `start`
    // into windows of `windowFrames` at `rate`. In stream order it calls
    // learn(Window) for every window that ends, and decide(offset, count,
    // start, end) for every stretch of this buffer, with the times of the
    // window the stretch belongs to (a window still open gets its full
    // length). A window is learned before its last stretch is decided.
    template <class Learn, class Decide>
    void cut(const float* samples, std::size_t frames, std::size_t stride, double rate, std::size_t windowFrames,
             double start, Learn&& learn, Decide&& decide)
    {
        if (!continues(rate, windowFrames, start)) {
            if (auto closed = close())
                learn(*closed);
            open(rate, windowFrames, start);
        }
        std::size_t offset = 0;
        while (offset < frames) {
            const std::size_t count = std::min(windowFrames - pending_, frames - offset);
            const float* sample = samples + offset * stride;
            for (std::size_t i = 0; i < count; ++i, sample += stride)
                sum_ += static_cast<double>(*sample) * static_cast<double>(*sample);
            pending_ += count;
            streamFrames_ += count;
            const double windowStart = timeOf(streamFrames_ - pending_);
            if (pending_ == windowFrames) {
                const Window window{windowStart, windowStart + static_cast<double>(pending_) / rate_,
                                    levelOf(sum_, pending_)};
                sum_ = 0.0;
                pending_ = 0;
                learn(window);
                decide(offset, count, window.start, window.end);
            } else {
                decide(offset, count, windowStart, windowStart + static_cast<double>(windowFrames) / rate_);
            }
            offset += count;
        }
    }

    // Ends the stream: the open window, if any, as a window of the frames it
    // has.
    std::optional<Window> close();

private:
    bool continues(double rate, std::size_t windowFrames, double start) const;
    void open(double rate, std::size_t windowFrames, double start);
    double timeOf(std::uint64_t frame) const { return origin_ + static_cast<double>(frame) / rate_; }
    static double levelOf(double sumOfSquares, std::size_t count);

    bool running_ = false;
    double rate_ = 0.0;
    std::size_t windowFrames_ = 0;
    double origin_ = 0.0;             // start of the stream's first frame
    std::uint64_t streamFrames_ = 0;  // frames of the stream so far
    std::size_t pending_ = 0;         // frames of the open window
    double sum_ = 0.0;                // their squares
};

}  // namespace parlaro
