#include "audio/AudioDevices.h"

#include "runtime/Error.h"
#include "speech/Localization.h"

#include <algorithm>

namespace parlaro {

namespace {

constexpr AudioPropertyAddress nominalRateAddress{AudioSelectors::nominalSampleRate, AudioScope::global, 0};

// A 4-byte number read; 0 when it fails.
std::uint32_t numberOrZero(AudioObjectId object, const AudioPropertyAddress& address)
{
    std::uint32_t value = 0;
    if (audioSystem().get(object, address, value) != AudioStatuses::ok)
        return 0;
    return value;
}

std::optional<AudioDevice> makeDevice(AudioObjectId id)
{
    AudioDevice device;
    device.id = id;
    device.uid = AudioDevices::stringProperty(id, AudioSelectors::deviceUID).value_or("");
    if (device.uid.starts_with(listenUIDPrefix))
        return std::nullopt;
    device.name = AudioDevices::stringProperty(id, AudioSelectors::name).value_or("Device " + std::to_string(id));
    device.inputChannels = AudioDevices::channelCount(id, AudioScope::input);
    device.outputChannels = AudioDevices::channelCount(id, AudioScope::output);
    device.transportType = numberOrZero(id, {AudioSelectors::transportType});
    device.outputSource = numberOrZero(id, {AudioSelectors::dataSource, AudioScope::output});
    return device;
}

}  // namespace

std::vector<AudioDevice> AudioDevices::allDevices()
{
    AudioSystem& system = audioSystem();
    const AudioPropertyAddress address{AudioSelectors::devices};
    std::uint32_t size = 0;
    if (system.getPropertyDataSize(audioSystemObject, address, size) != AudioStatuses::ok)
        return {};
    std::vector<AudioObjectId> ids;
    if (system.get(audioSystemObject, address, ids) != AudioStatuses::ok)
        return {};
    ids.resize(std::min<std::size_t>(ids.size(), size / 4));
    const auto companion = deviceID(injectionUID);
    if (companion && std::find(ids.begin(), ids.end(), *companion) == ids.end())
        ids.push_back(*companion);
    std::vector<AudioDevice> devices;
    for (AudioObjectId id : ids)
        if (auto device = makeDevice(id))
            devices.push_back(std::move(*device));
    return devices;
}

std::vector<AudioDevice> AudioDevices::outputDevices()
{
    std::vector<AudioDevice> devices = allDevices();
    std::erase_if(devices, [](const AudioDevice& device) { return device.outputChannels <= 0; });
    return devices;
}

std::optional<AudioObjectId> AudioDevices::deviceID(const std::string& uid)
{
    const AudioPropertyValue qualifier = AudioString(uid);
    AudioObjectId id = 0;
    if (audioSystem().get(audioSystemObject, {AudioSelectors::translateUIDToDevice}, id, &qualifier)
            != AudioStatuses::ok
        || id == 0)
        return std::nullopt;
    return id;
}

std::optional<AudioObjectId> AudioDevices::defaultDeviceID(bool input)
{
    AudioObjectId id = 0;
    if (audioSystem().get(audioSystemObject, {AudioSelectors::defaultDevice(input)}, id) != AudioStatuses::ok
        || id == 0)
        return std::nullopt;
    return id;
}

std::optional<AudioObjectId> AudioDevices::askedDefaultDeviceID(bool input)
{
    const AudioPropertyValue qualifier = std::uint32_t{AudioSelectors::askTheServer};
    AudioObjectId id = 0;
    const AudioStatus status =
        audioSystem().get(audioSystemObject, {AudioSelectors::defaultDevice(input)}, id, &qualifier);
    if (status != AudioStatuses::ok) {
        const std::string kind = input ? localized("麦克风") : localized("声音输出");
        throw DomainError("SystemAudio", status, localized("无法读取系统%@（%@）", kind, status));
    }
    if (id == 0)
        return std::nullopt;
    return id;
}

void AudioDevices::setDefaultDevice(AudioObjectId device, bool input)
{
    const AudioStatus status =
        audioSystem().setPropertyData(audioSystemObject, {AudioSelectors::defaultDevice(input)}, std::uint32_t{device});
    if (status == AudioStatuses::ok || status == AudioStatuses::unanswered)
        return;
    const std::string kind = input ? localized("麦克风") : localized("声音输出");
    throw DomainError("SystemAudio", status, localized("无法切换系统%@（%@）", kind, status));
}

std::vector<double> AudioDevices::nominalSampleRates(AudioObjectId device)
{
    const AudioPropertyAddress address{AudioSelectors::availableNominalSampleRates};
    std::uint32_t size = 0;
    if (audioSystem().getPropertyDataSize(device, address, size) != AudioStatuses::ok || size == 0)
        return {};
    std::vector<AudioValueRange> ranges;
    if (audioSystem().get(device, address, ranges) != AudioStatuses::ok)
        return {};
    std::vector<double> rates;
    for (const AudioValueRange& range : ranges) {
        rates.push_back(range.minimum);
        if (range.maximum != range.minimum)
            rates.push_back(range.maximum);
    }
    return rates;
}

std::optional<double> AudioDevices::nominalSampleRate(AudioObjectId device)
{
    double rate = 0;
    if (audioSystem().get(device, nominalRateAddress, rate) != AudioStatuses::ok || !(rate > 0))
        return std::nullopt;
    return rate;
}

bool AudioDevices::setNominalSampleRate(AudioObjectId device, double rate)
{
    return audioSystem().setPropertyData(device, nominalRateAddress, AudioPropertyValue(rate)) == AudioStatuses::ok;
}

std::optional<AudioObjectId> AudioDevices::ownProcessObject()
{
    AudioSystem& system = audioSystem();
    const AudioPropertyValue pid = static_cast<std::uint32_t>(system.currentProcessID());
    AudioObjectId process = 0;
    if (system.get(audioSystemObject, {AudioSelectors::translatePIDToProcess}, process, &pid) != AudioStatuses::ok
        || process == 0)
        return std::nullopt;
    return process;
}

std::optional<std::string> AudioDevices::stringProperty(AudioObjectId object, AudioSelector selector)
{
    AudioString value;
    if (audioSystem().get(object, {selector}, value) != AudioStatuses::ok)
        return std::nullopt;
    return value;
}

std::int64_t AudioDevices::channelCount(AudioObjectId device, AudioScope scope)
{
    const AudioPropertyAddress address{AudioSelectors::streamConfiguration, scope};
    std::uint32_t size = 0;
    if (audioSystem().getPropertyDataSize(device, address, size) != AudioStatuses::ok || size == 0)
        return 0;
    AudioBufferLayout layout;
    if (audioSystem().get(device, address, layout) != AudioStatuses::ok)
        return 0;
    std::int64_t channels = 0;
    for (std::uint32_t count : layout.channelsPerBuffer)
        channels += count;
    return channels;
}

std::shared_ptr<AudioDevices::RateWatch> AudioDevices::RateWatch::make(AudioObjectId device,
                                                                       AudioPropertyListener block)
{
    std::shared_ptr<RateWatch> watch(new RateWatch(device, std::move(block)));
    std::weak_ptr<RateWatch> weak = watch;
    watch->registration_ = audioSystem().addPropertyListener(device, watch->address_, AudioCallbackQueue::main(),
                                                             [weak](std::span<const AudioPropertyAddress> addresses) {
                                                                 if (auto self = weak.lock())
                                                                     if (self->block_)
                                                                         self->block_(addresses);
                                                             });
    if (watch->registration_.status() != AudioStatuses::ok)
        return nullptr;
    return watch;
}

}  // namespace parlaro
