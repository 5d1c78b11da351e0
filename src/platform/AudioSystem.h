#pragma once

#include "platform/AudioCallbackQueue.h"
#include "platform/AudioIOProc.h"
#include "platform/AudioInputEngine.h"
#include "platform/AudioListenerToken.h"
#include "platform/AudioProcessTap.h"
#include "platform/AudioProperty.h"
#include "platform/AudioQueue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace parlaro {

// Called with the addresses that changed.
using AudioPropertyListener = std::function<void(std::span<const AudioPropertyAddress> addresses)>;

// The audio hardware: devices, defaults, processes, taps and aggregate
// devices as objects with properties; listeners; device I/O procedures;
// buffer queues; input engines. Thread-safe. A failed read is a status, never
// an exception; callers decide what a failure means.
class AudioSystem {
public:
    virtual ~AudioSystem() = default;

    // Properties. A qualifier narrows a read ('uidd' takes a UID string,
    // 'id2p' a process id, 'suse' an I/O procedure id).
    virtual bool hasProperty(AudioObjectId object, const AudioPropertyAddress& address) const = 0;
    virtual AudioStatus getPropertyDataSize(AudioObjectId object, const AudioPropertyAddress& address,
                                            std::uint32_t& size,
                                            const AudioPropertyValue* qualifier = nullptr) const = 0;
    virtual AudioStatus getPropertyData(AudioObjectId object, const AudioPropertyAddress& address,
                                        AudioPropertyValue& value,
                                        const AudioPropertyValue* qualifier = nullptr) const = 0;
    virtual AudioStatus setPropertyData(AudioObjectId object, const AudioPropertyAddress& address,
                                        const AudioPropertyValue& value) = 0;

    // A typed read: badPropertySize when the property holds another kind.
    template <AudioPropertyType T>
    AudioStatus get(AudioObjectId object, const AudioPropertyAddress& address, T& out,
                    const AudioPropertyValue* qualifier = nullptr) const
    {
        AudioPropertyValue value;
        const AudioStatus status = getPropertyData(object, address, value, qualifier);
        if (status != AudioStatuses::ok)
            return status;
        if (const T* typed = std::get_if<T>(&value)) {
            out = *typed;
            return AudioStatuses::ok;
        }
        return AudioStatuses::badPropertySize;
    }

    // Runs `listener` on `queue` for each change of the property. The token
    // carries the status and removes the registration when released.
    virtual AudioListenerToken addPropertyListener(AudioObjectId object, const AudioPropertyAddress& address,
                                                   AudioCallbackQueue queue, AudioPropertyListener listener) = 0;

    // I/O procedures on a device. A zero status with id 0 means no procedure.
    virtual AudioStatus createIOProc(AudioObjectId device, AudioIOProc proc, void* context, AudioIOProcId& id) = 0;
    virtual AudioStatus destroyIOProc(AudioObjectId device, AudioIOProcId id) = 0;
    virtual AudioStatus startDevice(AudioObjectId device, AudioIOProcId id) = 0;
    virtual AudioStatus stopDevice(AudioObjectId device, AudioIOProcId id) = 0;

    // Process taps and the aggregate devices that read them.
    virtual AudioStatus createProcessTap(const ProcessTapDescription& description, AudioObjectId& tap) = 0;
    virtual AudioStatus destroyProcessTap(AudioObjectId tap) = 0;
    virtual AudioStatus createAggregateDevice(const AggregateDeviceDescription& description, AudioObjectId& device) = 0;
    virtual AudioStatus destroyAggregateDevice(AudioObjectId device) = 0;

    // Buffer queues on the default device until 'aqcd' names another. A zero
    // status with no queue is possible and means no queue.
    virtual AudioStatus newOutputQueue(const AudioStreamDescription& format, AudioQueueOutputCallback callback,
                                       void* userData, std::shared_ptr<AudioQueue>& queue) = 0;
    virtual AudioStatus newInputQueue(const AudioStreamDescription& format, AudioQueueInputCallback callback,
                                      void* userData, std::shared_ptr<AudioQueue>& queue) = 0;

    virtual std::shared_ptr<AudioInputEngine> makeInputEngine() = 0;

    // This process's id, as the process objects' 'ppid' gives it.
    virtual std::int32_t currentProcessID() const = 0;
};

// The process-wide audio system; throws std::logic_error when none is
// installed.
AudioSystem& audioSystem();

// Installs an audio system for the lifetime of the scope, restoring the
// previous one afterwards.
class AudioSystemScope {
public:
    explicit AudioSystemScope(AudioSystem& system);
    ~AudioSystemScope();
    AudioSystemScope(const AudioSystemScope&) = delete;
    AudioSystemScope& operator=(const AudioSystemScope&) = delete;

private:
    AudioSystem* previous_;
};

}  // namespace parlaro
