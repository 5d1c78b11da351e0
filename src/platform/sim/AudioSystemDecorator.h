#pragma once

#include "platform/AudioSystem.h"

namespace parlaro::sim {

// Stands in front of another audio system, passing every call through, and
// installs itself as the process-wide audio system for its lifetime. A test
// or benchmark derives from it and overrides only the calls it wants to
// watch or change.
class AudioSystemDecorator : public AudioSystem {
public:
    explicit AudioSystemDecorator(AudioSystem& system) : system_(system), scope_(*this) {}
    AudioSystemDecorator(const AudioSystemDecorator&) = delete;
    AudioSystemDecorator& operator=(const AudioSystemDecorator&) = delete;

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
    AudioStatus newOutputQueue(const AudioStreamDescription& format, AudioQueueOutputCallback callback, void* userData,
                               std::shared_ptr<AudioQueue>& queue) override;
    AudioStatus newInputQueue(const AudioStreamDescription& format, AudioQueueInputCallback callback, void* userData,
                              std::shared_ptr<AudioQueue>& queue) override;
    std::shared_ptr<AudioInputEngine> makeInputEngine() override;
    std::int32_t currentProcessID() const override;

protected:
    AudioSystem& system_;

private:
    AudioSystemScope scope_;
};

}  // namespace parlaro::sim
