#include "platform/sim/AudioSystemDecorator.h"

namespace parlaro::sim {

bool AudioSystemDecorator::hasProperty(AudioObjectId object, const AudioPropertyAddress& address) const
{
    return system_.hasProperty(object, address);
}

AudioStatus AudioSystemDecorator::getPropertyDataSize(AudioObjectId object, const AudioPropertyAddress& address,
                                                      std::uint32_t& size, const AudioPropertyValue* qualifier) const
{
    return system_.getPropertyDataSize(object, address, size, qualifier);
}

AudioStatus AudioSystemDecorator::getPropertyData(AudioObjectId object, const AudioPropertyAddress& address,
                                                  AudioPropertyValue& value, const AudioPropertyValue* qualifier) const
{
    return system_.getPropertyData(object, address, value, qualifier);
}

AudioStatus AudioSystemDecorator::setPropertyData(AudioObjectId object, const AudioPropertyAddress& address,
                                                  const AudioPropertyValue& value)
{
    return system_.setPropertyData(object, address, value);
}

AudioListenerToken AudioSystemDecorator::addPropertyListener(AudioObjectId object, const AudioPropertyAddress& address,
                                                             AudioCallbackQueue queue, AudioPropertyListener listener)
{
    return system_.addPropertyListener(object, address, std::move(queue), std::move(listener));
}

AudioStatus AudioSystemDecorator::createIOProc(AudioObjectId device, AudioIOProc proc, void* context, AudioIOProcId& id)
{
    return system_.createIOProc(device, proc, context, id);
}

AudioStatus AudioSystemDecorator::destroyIOProc(AudioObjectId device, AudioIOProcId id)
{
    return system_.destroyIOProc(device, id);
}

AudioStatus AudioSystemDecorator::startDevice(AudioObjectId device, AudioIOProcId id)
{
    return system_.startDevice(device, id);
}

AudioStatus AudioSystemDecorator::stopDevice(AudioObjectId device, AudioIOProcId id)
{
    return system_.stopDevice(device, id);
}

AudioStatus AudioSystemDecorator::createProcessTap(const ProcessTapDescription& description, AudioObjectId& tap)
{
    return system_.createProcessTap(description, tap);
}

AudioStatus AudioSystemDecorator::destroyProcessTap(AudioObjectId tap)
{
    return system_.destroyProcessTap(tap);
}

AudioStatus AudioSystemDecorator::createAggregateDevice(const AggregateDeviceDescription& description,
                                                        AudioObjectId& device)
{
    return system_.createAggregateDevice(description, device);
}

AudioStatus AudioSystemDecorator::destroyAggregateDevice(AudioObjectId device)
{
    return system_.destroyAggregateDevice(device);
}

AudioStatus AudioSystemDecorator::newOutputQueue(const AudioStreamDescription& format,
                                                 AudioQueueOutputCallback callback, void* userData,
                                                 std::shared_ptr<AudioQueue>& queue)
{
    return system_.newOutputQueue(format, callback, userData, queue);
}

AudioStatus AudioSystemDecorator::newInputQueue(const AudioStreamDescription& format, AudioQueueInputCallback callback,
                                                void* userData, std::shared_ptr<AudioQueue>& queue)
{
    return system_.newInputQueue(format, callback, userData, queue);
}

std::shared_ptr<AudioInputEngine> AudioSystemDecorator::makeInputEngine()
{
    return system_.makeInputEngine();
}

std::int32_t AudioSystemDecorator::currentProcessID() const
{
    return system_.currentProcessID();
}

}  // namespace parlaro::sim
