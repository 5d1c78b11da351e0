#pragma once

#include "audio/FarEndActivity.h"
#include "platform/AudioProperty.h"
#include "platform/AudioQueue.h"
#include "platform/PcmBuffer.h"
#include "runtime/Task.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace parlaro {

// Plays rendered speech on one output device through an output queue, makes
// sure the queue really sits on that device, and waits until the last buffer
// has sounded. On a real device (speakers, headphones) it tells the far-end
// record when each stretch was played and how loud it was, so the echo gate
// can recognise the program's own speech coming back into the microphone.
//
// Main actor. Held by shared_ptr: a play in progress keeps its player.
class DevicePlayer : public std::enable_shared_from_this<DevicePlayer> {
public:
    // Asked before and during a play whether it should go on.
    using CurrentCheck = std::function<bool()>;

    // Levels of the played audio are measured in windows of this length.
    static constexpr double levelWindow = 0.01;
    // How long a play may take beyond the audio's own length.
    static constexpr double finishGrace = 8.0;
    static constexpr double pollInterval = 0.02;
    static constexpr int anchorAttempts = 50;
    static constexpr double anchorInterval = 0.01;

    DevicePlayer(AudioObjectId deviceID, std::shared_ptr<FarEndActivity> farEnd);

    AudioObjectId deviceID() const { return deviceID_; }
    const std::shared_ptr<FarEndActivity>& farEnd() const { return farEnd_; }
    // A stop came after the latest play began.
    bool isStopped() const { return stops_ != stopsAtLatestPlay_; }

    // Plays the buffers (deinterleaved 32-bit float, all of one rate and
    // channel count) and returns when the queue has played them all. Throws
    // ModuleError TTS-2 when the device is gone, TTS-4 when the queue fails
    // or does not finish within the audio's length plus 8 s, and a
    // cancellation error when stopped, no longer current, or cancelled.
    rt::Async<void> play(std::vector<PcmBuffer> buffers, CurrentCheck isCurrent);

    // Ends every play in progress: the newest one's queue falls silent at
    // once, and each play throws a cancellation error when it next looks. A
    // play that begins afterwards is not affected.
    void stop();

private:
    struct Progress;
    struct PlayState;
    static void outputCallback(void* userData, AudioQueue& queue, AudioQueueBuffer& buffer);

    rt::Async<void> anchorEchoReference(std::shared_ptr<AudioQueue> queue, double sampleRate,
                                        std::vector<FarEndActivity::Span> spans);

    AudioObjectId deviceID_;
    std::shared_ptr<FarEndActivity> farEnd_;
    std::shared_ptr<AudioQueue> queue_;
    // Counts stops. Each play remembers the count it began under, so a stop
    // ends exactly the plays that were running, also when another play
    // begins before they next look.
    std::uint64_t stops_ = 0;
    std::uint64_t stopsAtLatestPlay_ = 0;
    // Host time of the stop, where the echo record of the play ends.
    std::optional<double> stoppedAt_;
};

}  // namespace parlaro
