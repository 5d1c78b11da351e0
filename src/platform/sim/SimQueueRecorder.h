#pragma once

#include "platform/AudioSystem.h"
#include "platform/sim/SimAudioQueue.h"

#include <memory>
#include <mutex>
#include <vector>

namespace parlaro::sim {

// Stands in front of an audio system and keeps every buffer queue it makes,
// so a test can see each one's fate, disposed or not, after its owner has let
// go of it. Everything else passes straight through. Installs itself as the
// process-wide audio system for its lifetime.
class SimQueueRecorder final : public AudioSystem {
public:
    explicit SimQueueRecorder(AudioSystem& system);
    SimQueueRecorder(const SimQueueRecorder&) = delete;
    SimQueueRecorder& operator=(const SimQueueRecorder&) = delete;

    // Every queue made so far, in order of making.
    std::vector<std::shared_ptr<SimAudioQueue>> made() const;
    // True when every queue made so far has been disposed of.
    bool allDisposed() const;

    bool hasProperty(AudioObjectId object, const AudioPropertyAddress& address) const override;
    AudioStatus getPropertyDataSize(AudioObjectId object, const AudioPropertyAddress& address, std::uint32_t& size,
                                    const AudioPropertyValue* qualifier = nullptr) const override;
    AudioStatus getPropertyData(AudioObjectId object, const AudioPropertyAddress& address, AudioPropertyValue& value,
                                const AudioPropertyValue* qualifier = nullptr) const override;
    AudioStatus setPropertyData(AudioObjectId object, const AudioPropertyAddress& address,
                                const AudioPropertyValue& value) override;
    AudioListenerToken addPropertyListener(AudioObjectId object, const AudioPropertyAddress& address,
                                           AudioCallbackQueue queue, AudioPropertyListener listener) override;
    AudioStatus createIOProc(AudioObjectId device, AudioIOProc proc, void* context, AudioIOProcId& id) override;
    AudioStatus destroyIOProc(AudioObjectId device, AudioIOProcId id) override;
    AudioStatus startDevice(AudioObjectId device, AudioIOProcId id) override;
    AudioStatus stopDevice(AudioObjectId device, AudioIOProcId id) override;
    AudioStatus createProcessTap(const ProcessTapDescription& description, AudioObjectId& tap) override;
    AudioStatus destroyProcessTap(AudioObjectId tap) override;
    AudioStatus createAggregateDevice(const AggregateDeviceDescription& description, AudioObjectId& device) override;
    AudioStatus destroyAggregateDevice(AudioObjectId device) override;
    AudioStatus newOutputQueue(const AudioStreamDescription& format, AudioQueueOutputCallback callback,
                               void* userData, std::shared_ptr<AudioQueue>& queue) override;
    AudioStatus newInputQueue(const AudioStreamDescription& format, AudioQueueInputCallback callback, void* userData,
                              std::shared_ptr<AudioQueue>& queue) override;
    std::shared_ptr<AudioInputEngine> makeInputEngine() override;
    std::int32_t currentProcessID() const override;

private:
    void keep(const std::shared_ptr<AudioQueue>& queue);

    AudioSystem& system_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<SimAudioQueue>> made_;
    AudioSystemScope scope_;
};

} // namespace parlaro::sim
