#pragma once

#include "platform/AudioCallbackQueue.h"
#include "platform/AudioFormat.h"
#include "platform/AudioListenerToken.h"
#include "platform/AudioProperty.h"
#include "platform/AudioTimeStamp.h"
#include "platform/PcmBuffer.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace parlaro {

// Receives each tapped buffer on the engine's audio thread, with the time of
// its first frame (its host time counts only when flagged valid).
using AudioTapBlock = std::function<void(std::shared_ptr<PcmBuffer> buffer, const AudioTimeStamp& time)>;

// A microphone input engine: one input device (the system default unless
// one is set), a tap on its input, and notifications when the audio
// configuration changes under it (a device unplugged or switched), which may
// or may not have stopped the engine. Failing calls throw parlaro::Error.
class AudioInputEngine {
public:
    virtual ~AudioInputEngine() = default;

    virtual void setInputDevice(AudioObjectId device) = 0;
    // The input's own format; a rate of 0 or no channels when it has none.
    virtual AudioFormat inputFormat() const = 0;
    // Buffers of about `bufferFrames` frames in `format`.
    virtual void installTap(std::uint32_t bufferFrames, const AudioFormat& format, AudioTapBlock block) = 0;
    virtual void removeTap() = 0;
    virtual void prepare() = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;

    virtual AudioListenerToken observeConfigurationChanges(AudioCallbackQueue queue,
                                                           std::function<void()> onChange) = 0;
};

}  // namespace parlaro
