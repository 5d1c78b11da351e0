#pragma once

#include "platform/AudioInputEngine.h"
#include "platform/AudioListenerToken.h"
#include "platform/PcmBuffer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace parlaro {

// Taps the user's microphone: an input engine on the chosen input device (the
// system default when none), a tap of 4096 frames in the input's own format,
// and a watch on the audio configuration that restarts the engine when a
// change stops it, up to three times per start.
//
// Held by shared_ptr. start, stop and the configuration handling run on the
// main actor; buffers arrive on the engine's audio thread. Releasing the
// capture does not stop the engine: its owner stops it.
class MicCapture : public std::enable_shared_from_this<MicCapture> {
public:
    // On the audio thread: a buffer and the host clock time of its first
    // frame, when the engine gave one.
    using BufferHandler = std::function<void(std::shared_ptr<PcmBuffer> buffer, std::optional<double> start)>;
    // On the main actor: why the recording lost its microphone.
    using FailureHandler = std::function<void(const std::string& message)>;

    static constexpr std::uint32_t tapFrames = 4096;
    // Restarts one start survives before it gives up.
    static constexpr int restartLimit = 3;

    MicCapture() = default;
    MicCapture(const MicCapture&) = delete;
    MicCapture& operator=(const MicCapture&) = delete;

    // Stops first. Throws the platform's error when the device cannot be set
    // or the engine not started, and DomainError "Parlaro" 12 when the
    // microphone has no usable format; nothing is kept then.
    void start(std::optional<AudioObjectId> deviceID, BufferHandler onBuffer, FailureHandler onFailure);
    // Stopping a stopped capture does nothing.
    void stop();
    bool isRunning() const { return engine_ != nullptr; }

private:
    static std::shared_ptr<AudioInputEngine> startEngine(std::optional<AudioObjectId> deviceID,
                                                         const BufferHandler& onBuffer);
    void observe(const std::shared_ptr<AudioInputEngine>& engine, int attempt, std::optional<AudioObjectId> deviceID,
                 BufferHandler onBuffer, FailureHandler onFailure);
    void restartAfterChange(const std::shared_ptr<AudioInputEngine>& changed, int attempt,
                            std::optional<AudioObjectId> deviceID, const BufferHandler& onBuffer,
                            const FailureHandler& onFailure);

    std::shared_ptr<AudioInputEngine> engine_;
    AudioListenerToken observer_;
};

}  // namespace parlaro
