#include "audio/DeviceReaderDetector.h"

#include "runtime/Runtime.h"

#include <algorithm>
#include <array>
#include <set>

namespace parlaro {

namespace {

constexpr AudioPropertyAddress processList{AudioSelectors::processes};
// What a process changes when it starts or stops audio, in registration order.
constexpr std::array<AudioPropertyAddress, 4> processAddresses{
    AudioPropertyAddress{AudioSelectors::processIsRunningInput},
    AudioPropertyAddress{AudioSelectors::processDevices, AudioScope::input},
    AudioPropertyAddress{AudioSelectors::processIsRunningOutput},
    AudioPropertyAddress{AudioSelectors::processDevices, AudioScope::output}};

// An id list; empty when the size call fails, the size is 0 or the read fails.
std::vector<AudioObjectId> idList(AudioObjectId object, const AudioPropertyAddress& address)
{
    AudioSystem& system = audioSystem();
    std::uint32_t size = 0;
    if (system.getPropertyDataSize(object, address, size) != AudioStatuses::ok || size == 0)
        return {};
    std::vector<AudioObjectId> ids;
    if (system.get(object, address, ids) != AudioStatuses::ok)
        return {};
    return ids;
}

bool runningFlag(AudioObjectId process, AudioSelector selector)
{
    std::uint32_t value = 0;
    return audioSystem().get(process, {selector}, value) == AudioStatuses::ok && value != 0;
}

}  // namespace

DeviceReaderDetector& DeviceReaderDetector::shared()
{
    static const std::shared_ptr<DeviceReaderDetector> instance = make();
    return *instance;
}

std::shared_ptr<DeviceReaderDetector> DeviceReaderDetector::make()
{
    return std::shared_ptr<DeviceReaderDetector>(new DeviceReaderDetector());
}

DeviceReaderDetector::~DeviceReaderDetector()
{
    stop();
}

std::optional<std::vector<AudioClient>> DeviceReaderDetector::clients()
{
    AudioSystem& system = audioSystem();
    if (!system.hasProperty(system_, processList))
        return std::nullopt;
    const rt::Instant now = rt::clock().now();
    if (snapshot_ && now - snapshot_->time < snapshotLifetime)
        return snapshot_->clients;

    std::vector<AudioClient> list;
    for (AudioObjectId process : idList(system_, processList)) {
        AudioClient client;
        client.inputDevices = idList(process, {AudioSelectors::processDevices, AudioScope::input});
        client.outputDevices = idList(process, {AudioSelectors::processDevices, AudioScope::output});
        if (client.inputDevices.empty() && client.outputDevices.empty())
            continue;
        std::uint32_t pid = 0;
        if (system.get(process, {AudioSelectors::processPID}, pid) != AudioStatuses::ok)
            pid = 0;
        client.pid = static_cast<std::int32_t>(pid);
        AudioString bundle;
        if (system.get(process, {AudioSelectors::processBundleID}, bundle) == AudioStatuses::ok && bundle
            && !bundle->empty())
            client.bundleID = *bundle;
        client.runningInput = runningFlag(process, AudioSelectors::processIsRunningInput);
        client.runningOutput = runningFlag(process, AudioSelectors::processIsRunningOutput);
        list.push_back(std::move(client));
    }
    snapshot_ = Snapshot{now, list};
    return list;
}

void DeviceReaderDetector::start(std::function<void()> onChange)
{
    AudioSystem& system = audioSystem();
    if (!system.hasProperty(system_, processList))
        return;
    stop();
    onChange_ = std::move(onChange);
    std::weak_ptr<DeviceReaderDetector> weak = weak_from_this();
    callback_ = [weak](std::span<const AudioPropertyAddress>) {
        if (auto self = weak.lock())
            self->changed();
    };
    // Statuses are not checked: an empty token removes nothing later.
    listener_ = system.addPropertyListener(system_, processList, AudioCallbackQueue::main(), callback_);
    synchronizeWatched();
}

void DeviceReaderDetector::stop()
{
    if (!listener_)
        return;
    listener_->release();
    for (auto& [process, registrations] : watched_)
        for (auto& registration : registrations)
            registration.release();
    watched_.clear();
    snapshot_.reset();
    listener_.reset();
    callback_ = nullptr;
}

void DeviceReaderDetector::invalidate(const std::function<void()>& then, DeviceReaderDetector& detector)
{
    detector.snapshot_.reset();
    if (then)
        then();
}

void DeviceReaderDetector::synchronizeWatched()
{
    if (!listener_)
        return;
    AudioSystem& system = audioSystem();
    const std::vector<AudioObjectId> current = idList(system_, processList);
    const std::set<AudioObjectId> currentSet(current.begin(), current.end());
    // Processes that are gone take their registrations with them; what is
    // left of them is released here.
    std::erase_if(watched_, [&](const auto& entry) { return !currentSet.contains(entry.first); });
    for (AudioObjectId process : current) {
        if (watched_.contains(process))
            continue;
        std::vector<AudioListenerToken> registrations;
        for (const AudioPropertyAddress& address : processAddresses)
            registrations.push_back(
                system.addPropertyListener(process, address, AudioCallbackQueue::main(), callback_));
        watched_.emplace(process, std::move(registrations));
    }
}

void DeviceReaderDetector::changed()
{
    snapshot_.reset();
    synchronizeWatched();
    if (onChange_)
        onChange_();
}

bool isDeviceUsedByOtherProcesses(AudioObjectId device, DeviceReaderDetector& detector)
{
    const auto clients = detector.clients();
    if (!clients)
        return true;
    const std::int32_t self = audioSystem().currentProcessID();
    for (const AudioClient& client : *clients) {
        if (client.pid == self || !client.isForeign())
            continue;
        const auto lists = [device](const std::vector<AudioObjectId>& devices) {
            return std::find(devices.begin(), devices.end(), device) != devices.end();
        };
        if (lists(client.inputDevices) || lists(client.outputDevices))
            return true;
    }
    return false;
}

}  // namespace parlaro
