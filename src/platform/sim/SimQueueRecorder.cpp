#include "platform/sim/SimQueueRecorder.h"

#include <algorithm>

namespace parlaro::sim {

SimQueueRecorder::SimQueueRecorder(AudioSystem& system) : system_(system), scope_(*this) {}

std::vector<std::shared_ptr<SimAudioQueue>> SimQueueRecorder::made() const
{
    std::lock_guard lock(mutex_);
    return made_;
}

bool SimQueueRecorder::allDisposed() const
{
    auto queues = made();
    return std::all_of(queues.begin(), queues.end(), [](const auto& queue) { return queue->isDisposed(); });
}

void SimQueueRecorder::keep(const std::shared_ptr<AudioQueue>& queue)
{
    if (auto simulated = std::dynamic_pointer_cast<SimAudioQueue>(queue)) {
        std::lock_guard lock(mutex_);
        made_.push_back(std::move(simulated));
    }
}

bool SimQueueRecorder::hasProperty(AudioObjectId object, const AudioPropertyAddress& address) const
{
    return system_.hasProperty(object, address);
}

AudioStatus SimQueueRecorder::getPropertyDataSize(AudioObjectId object, const AudioPropertyAddress& address,
                                                  std::uint32_t& size, const AudioPropertyValue* qualifier) const
{
    return system_.getPropertyDataSize(object, address, size, qualifier);
}

AudioStatus SimQueueRecorder::getPropertyData(AudioObjectId object, const AudioPropertyAddress& address,
                                              AudioPropertyValue& value, const AudioPropertyValue* qualifier) const
{
    return system_.getPropertyData(object, address, value, qualifier);
}

AudioStatus SimQueueRecorder::setPropertyData(AudioObjectId object, const AudioPropertyAddress& address,
                                              const AudioPropertyValue& value)
{
    return system_.setPropertyData(object, address, value);
}

AudioListenerToken SimQueueRecorder::addPropertyListener(AudioObjectId object, const AudioPropertyAddress& address,
                                                         AudioCallbackQueue queue, AudioPropertyListener listener)
{
    return system_.addPropertyListener(object, address, std::move(queue), std::move(listener));
}

AudioStatus SimQueueRecorder::createIOProc(AudioObjectId device, AudioIOProc proc, void* context, AudioIOProcId& id)
{
    return system_.createIOProc(device, proc, context, id);
}

AudioStatus SimQueueRecorder::destroyIOProc(AudioObjectId device, AudioIOProcId id)
{
    return system_.destroyIOProc(device, id);
}

AudioStatus SimQueueRecorder::startDevice(AudioObjectId device, AudioIOProcId id)
{
    return system_.startDevice(device, id);
}

AudioStatus SimQueueRecorder::stopDevice(AudioObjectId device, AudioIOProcId id)
{
    return system_.stopDevice(device, id);
}

AudioStatus SimQueueRecorder::createProcessTap(const ProcessTapDescription& description, AudioObjectId& tap)
{
    return system_.createProcessTap(description, tap);
}

AudioStatus SimQueueRecorder::destroyProcessTap(AudioObjectId tap)
{
    return system_.destroyProcessTap(tap);
}

AudioStatus SimQueueRecorder::createAggregateDevice(const AggregateDeviceDescription& description,
                                                    AudioObjectId& device)
{
    return system_.createAggregateDevice(description, device);
}

AudioStatus SimQueueRecorder::destroyAggregateDevice(AudioObjectId device)
{
    return system_.destroyAggregateDevice(device);
}

AudioStatus SimQueueRecorder::newOutputQueue(const AudioStreamDescription& format, AudioQueueOutputCallback callback,
                                             void* userData, std::shared_ptr<AudioQueue>& queue)
{
    const AudioStatus status = system_.newOutputQueue(format, callback, userData, queue);
    keep(queue);
    return status;
}

AudioStatus SimQueueRecorder::newInputQueue(const AudioStreamDescription& format, AudioQueueInputCallback callback,
                                            void* userData, std::shared_ptr<AudioQueue>& queue)
{
    const AudioStatus status = system_.newInputQueue(format, callback, userData, queue);
    keep(queue);
    return status;
}

std::shared_ptr<AudioInputEngine> SimQueueRecorder::makeInputEngine()
{
    return system_.makeInputEngine();
}

std::int32_t SimQueueRecorder::currentProcessID() const
{
    return system_.currentProcessID();
}

} // namespace parlaro::sim
