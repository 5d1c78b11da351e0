#include "platform/sim/SimVirtualMicHost.h"

#include "platform/OwnAudioIDs.h"

#include "platform/sim/SimAudioSystem.h"

namespace parlaro::sim {

namespace {
constexpr AudioObjectId virtualDeviceId = 4000;
}

SimVirtualMicHost::SimVirtualMicHost(std::string builtInHash, SimAudioSystem* audio)
    : builtInHash_(std::move(builtInHash)), audio_(audio)
{
}

VirtualMicHost::State SimVirtualMicHost::state() const
{
    std::lock_guard lock(mutex_);
    if (!loadedHash_)
        return State::missing;
    return *loadedHash_ == builtInHash_ ? State::current : State::stale;
}

std::optional<std::string> SimVirtualMicHost::ensure()
{
    bool addDevice = false;
    {
        std::lock_guard lock(mutex_);
        ++ensures_;
        if (failure_) {
            auto failure = std::move(failure_);
            failure_.reset();
            return failure;
        }
        addDevice = !loadedHash_.has_value();
        loadedHash_ = builtInHash_;
    }
    if (addDevice && audio_) {
        audio_->addDevice({.id = virtualDeviceId,
                           .uid = virtualMicUID,
                           .name = virtualMicrophoneName,
                           .inputBuffers = {2},
                           .outputBuffers = {2},
                           .transportType = AudioTransports::virtualDevice});
    }
    return std::nullopt;
}

void SimVirtualMicHost::setLoadedHash(std::optional<std::string> hash)
{
    std::lock_guard lock(mutex_);
    loadedHash_ = std::move(hash);
}

void SimVirtualMicHost::failNextEnsure(std::string serverError)
{
    std::lock_guard lock(mutex_);
    failure_ = std::move(serverError);
}

int SimVirtualMicHost::ensureCount() const
{
    std::lock_guard lock(mutex_);
    return ensures_;
}

}  // namespace parlaro::sim
