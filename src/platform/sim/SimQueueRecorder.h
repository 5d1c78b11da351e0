#pragma once

#include "platform/sim/AudioSystemDecorator.h"
#include "platform/sim/SimAudioQueue.h"

#include <memory>
#include <mutex>
#include <vector>

namespace parlaro::sim {

// Stands in front of an audio system and keeps every buffer queue it makes,
// so a test can see each one's fate, disposed or not, after its owner has let
// go of it. Everything else passes straight through.
class SimQueueRecorder final : public AudioSystemDecorator {
public:
    explicit SimQueueRecorder(AudioSystem& system);

    // Every queue made so far, in order of making.
    std::vector<std::shared_ptr<SimAudioQueue>> made() const;
    // True when every queue made so far has been disposed of.
    bool allDisposed() const;

    AudioStatus newOutputQueue(const AudioStreamDescription& format, AudioQueueOutputCallback callback, void* userData,
                               std::shared_ptr<AudioQueue>& queue) override;
    AudioStatus newInputQueue(const AudioStreamDescription& format, AudioQueueInputCallback callback, void* userData,
                              std::shared_ptr<AudioQueue>& queue) override;

private:
    void keep(const std::shared_ptr<AudioQueue>& queue);

    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<SimAudioQueue>> made_;
};

}  // namespace parlaro::sim
