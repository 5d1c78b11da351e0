#pragma once

#include "audio/CaptureAnchor.h"
#include "audio/ReadHead.h"
#include "audio/RingResampler.h"
#include "audio/SampleTimeRing.h"
#include "platform/AudioIOProc.h"
#include "platform/AudioProperty.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace parlaro {

class AudioSystem;

// Copies live audio from one device's input to another device's output with a
// small, steady delay. The input procedure writes each captured cycle into a
// ring indexed by the input's sample time and publishes a capture anchor; the
// output procedure reads `distance` frames behind the newest input, either
// tied to the output's sample time (`direct`, same rates) or through a
// resampler whose ratio the drift controller trims (`resample`). Both measure
// the timing error in input frames for that controller.
//
// Created and torn down on the main actor; the two procedures run on the
// devices' I/O threads and share state only through atomics. Nothing on those
// threads allocates, locks or logs.
class DeviceForwarder {
public:
    enum class Mode { direct, resample };

    struct DeviceTiming {
        double rate = 0;  // nominal sample rate, Hz
        std::uint32_t bufferFrames = 0;
        std::uint32_t safetyOffset = 0;  // in the scope concerned
        bool operator==(const DeviceTiming&) const = default;
    };

    // Most frames one output cycle renders; a larger buffer keeps its tail.
    static constexpr std::int64_t maxOutputFrames = 4096;

    // Configures both devices and starts forwarding; both run on return.
    // Throws ModuleError VM-11, with nothing left registered.
    DeviceForwarder(AudioObjectId input, AudioObjectId output, bool forceResample);
    ~DeviceForwarder();
    DeviceForwarder(const DeviceForwarder&) = delete;
    DeviceForwarder& operator=(const DeviceForwarder&) = delete;

    // Stops and removes the input procedure, then the output procedure.
    // Safe to call more than once.
    void tearDown();

    AudioObjectId input() const { return input_; }
    AudioObjectId output() const { return output_; }
    Mode mode() const { return mode_; }
    const DeviceTiming& inputTiming() const { return inputTiming_; }
    const DeviceTiming& outputTiming() const { return outputTiming_; }
    // Target latency in input frames.
    std::int64_t distance() const { return distance_; }
    // Output rate over input rate.
    double baseRatio() const { return baseRatio_; }
    double hostTicksPerInputFrame() const { return hostTicksPerInputFrame_; }

    // For the drift controller, from the main actor.
    bool errorValid() const { return errorValid_.load(std::memory_order_acquire); }
    double errorFrames() const { return errorFrames_.load(std::memory_order_acquire); }
    double ratio() const { return ratio_.load(std::memory_order_acquire); }
    void setRatio(double ratio) { ratio_.store(ratio, std::memory_order_release); }

    // The output thread's own read positions; read them only while no cycle
    // runs (tests, after stopping the devices' clocks).
    const ReadHead& head() const { return head_; }
    std::optional<std::int64_t> cursor() const;
    const SampleTimeRing& ring() const { return *ring_; }

    // The two I/O procedures, with the forwarder as context.
    static AudioStatus inputProc(AudioObjectId device, const AudioTimeStamp& now, std::span<const AudioIOBuffer> input,
                                 const AudioTimeStamp& inputTime, std::span<AudioIOBuffer> output,
                                 const AudioTimeStamp& outputTime, void* context);
    static AudioStatus outputProc(AudioObjectId device, const AudioTimeStamp& now, std::span<const AudioIOBuffer> input,
                                  const AudioTimeStamp& inputTime, std::span<AudioIOBuffer> output,
                                  const AudioTimeStamp& outputTime, void* context);

private:
    DeviceTiming deviceTiming(AudioObjectId device, AudioScope scope) const;
    void startDevices();
    void restrictStreams(AudioObjectId device, AudioScope scope, AudioIOProcId proc);
    void releaseResources();

    void captured(std::span<const AudioIOBuffer> input, const AudioTimeStamp& inputTime);
    void render(std::span<AudioIOBuffer> output, const AudioTimeStamp& outputTime);
    void renderDirect(std::int64_t frames, const AudioTimeStamp& outputTime);
    void renderResampled(std::int64_t frames, const AudioTimeStamp& outputTime);
    void measure(std::int64_t readPosition, const AudioTimeStamp& outputTime);

    AudioSystem& system_;
    AudioObjectId input_;
    AudioObjectId output_;
    Mode mode_ = Mode::direct;
    DeviceTiming inputTiming_;
    DeviceTiming outputTiming_;
    std::int64_t distance_ = 0;
    double baseRatio_ = 1;
    std::unique_ptr<SampleTimeRing> ring_;
    std::unique_ptr<float[]> scratch_;
    std::optional<AudioIOProcId> inputProc_;
    std::optional<AudioIOProcId> outputProc_;
    std::unique_ptr<RingResampler> resampler_;
    std::atomic<double> ratio_{1.0};
    double hostTicksPerInputFrame_ = 1;
    ReadHead head_;
    CaptureAnchor anchor_;
    std::atomic<double> errorFrames_{0.0};
    std::atomic<bool> errorValid_{false};
};

}  // namespace parlaro
