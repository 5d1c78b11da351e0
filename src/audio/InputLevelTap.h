#pragma once

#include "platform/AudioProperty.h"
#include "platform/AudioQueue.h"
#include "platform/PcmBuffer.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace parlaro {

// Reads one input device through an input queue: keeps the loudest sample
// since the last look, and can record a limited stretch of samples.
//
// Start and stop run on the main actor; the queue's callback runs on the
// queue's own thread and touches only the peak, the recording and the
// running flag, under the tap's lock.
class InputLevelTap {
public:
    static constexpr double sampleRate = 48000;
    static constexpr std::uint32_t bufferCount = 3;
    static constexpr std::uint32_t framesPerBuffer = 1024;
    // Recordings are for the hear test, a few seconds; longer requests are
    // cut to this.
    static constexpr double longestRecording = 60.0;
    // Failures of start().
    static constexpr const char* errorDomain = "LevelMeter";

    struct Recording {
        // Interleaved when there are two channels.
        std::vector<float> samples;
        double sampleRate = InputLevelTap::sampleRate;
        std::uint32_t channels = 1;
    };

    InputLevelTap() = default;
    ~InputLevelTap();
    InputLevelTap(const InputLevelTap&) = delete;
    InputLevelTap& operator=(const InputLevelTap&) = delete;

    // Restarts the tap on the device (one channel when fewer than two are
    // asked for, else two); the key names the configuration, the UID when
    // none is given. Throws DomainError "LevelMeter" 1 naming the failed step
    // and its status; nothing is left open then.
    void start(const std::string& deviceUID, std::int64_t channels, std::optional<std::string> key = std::nullopt);
    // Safe when stopped.
    void stop();

    // Starts an empty recording of at most `seconds` (0...60 s; not a number
    // counts as 0) at the tap's channel count.
    void beginRecording(double seconds);
    // Takes the recording (empty when there is none) and ends it.
    Recording finishRecording();
    Recording takeRecording() { return finishRecording(); }

    // The samples as one deinterleaved float buffer, at least one channel;
    // none without a whole frame or a usable rate.
    static std::optional<PcmBuffer> recordingBuffer(const std::vector<float>& samples, std::uint32_t channels,
                                                    double sampleRate);
    // The same as a list of one buffer, or an empty list.
    static std::vector<PcmBuffer> makeBuffers(const std::vector<float>& samples, double sampleRate,
                                              std::uint32_t channels);

    // The loudest sample since the last call, which starts a new look.
    float takePeak();
    // Whether a queue exists and says it runs.
    bool isQueueRunning() const;
    bool hasQueue() const { return queue_ != nullptr; }
    std::optional<std::string> deviceUID() const;
    std::optional<std::string> deviceKey() const;
    std::uint32_t channels() const;

private:
    static void inputCallback(void* userData, AudioQueue& queue, AudioQueueBuffer& buffer,
                              const AudioTimeStamp& startTime);
    [[noreturn]] void fail(std::shared_ptr<AudioQueue> queue, const std::string& message);

    mutable std::mutex lock_;
    std::shared_ptr<AudioQueue> queue_;
    bool running_ = false;
    float peak_ = 0;
    std::optional<std::vector<float>> recorded_;
    std::int64_t recordLimit_ = 0;
    std::uint32_t channels_ = 1;
    std::optional<std::string> deviceUID_;
    std::optional<std::string> deviceKey_;
};

}  // namespace parlaro
