#include "audio/SystemAudioRoute.h"

#include "audio/AudioDevices.h"
#include "platform/JsonInput.h"
#include "runtime/Error.h"
#include "speech/Localization.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <exception>

namespace parlaro {

namespace {

constexpr const char* routeDomain = "SystemAudioRoute";

bool isVirtualMicrophone(const std::string& uid)
{
    return uid == virtualMicUID || uid == injectionUID;
}

const AudioDevice* findByID(const std::vector<AudioDevice>& devices, std::optional<AudioObjectId> id)
{
    if (!id)
        return nullptr;
    auto found = std::find_if(devices.begin(), devices.end(), [&](const AudioDevice& d) { return d.id == *id; });
    return found == devices.end() ? nullptr : &*found;
}

// A device the system knows by UID though it does not list it, with channels
// in that direction.
std::optional<AudioObjectId> unlistedDevice(const std::string& uid, bool input)
{
    const auto id = AudioDevices::deviceID(uid);
    if (!id || AudioDevices::channelCount(*id, input ? AudioScope::input : AudioScope::output) < 1)
        return std::nullopt;
    return id;
}

void throwProblems(const std::vector<std::string>& problems)
{
    if (problems.empty())
        return;
    std::string text = problems.front();
    for (std::size_t i = 1; i < problems.size(); ++i)
        text += "；" + problems[i];
    throw DomainError(routeDomain, 1, text);
}

}  // namespace

std::string SystemAudioRoute::Snapshot::json() const
{
    const nlohmann::json object{
        {"oldInput", oldInput}, {"oldOutput", oldOutput}, {"routedInput", routedInput}, {"routedOutput", routedOutput}};
    return object.dump();
}

std::optional<SystemAudioRoute::Snapshot> SystemAudioRoute::Snapshot::decode(const std::string& json)
{
    const std::optional<nlohmann::json> parsed = parseJsonInput(json);
    if (!parsed || !parsed->is_object())
        return std::nullopt;
    const nlohmann::json& object = *parsed;
    Snapshot snapshot;
    for (auto [name, field] :
         {std::pair{"oldInput", &snapshot.oldInput}, std::pair{"oldOutput", &snapshot.oldOutput},
          std::pair{"routedInput", &snapshot.routedInput}, std::pair{"routedOutput", &snapshot.routedOutput}}) {
        auto member = object.find(name);
        if (member == object.end() || !member->is_string())
            return std::nullopt;
        *field = member->get<std::string>();
    }
    return snapshot;
}

std::string SystemAudioRoute::unlistedInputUID(std::optional<AudioObjectId> id)
{
    if (!id)
        return {};
    std::string uid = AudioDevices::stringProperty(*id, AudioSelectors::deviceUID).value_or("");
    if (isVirtualMicrophone(uid) || uid.starts_with(listenUIDPrefix))
        return {};
    return uid;
}

std::optional<SystemAudioRoute::Snapshot> SystemAudioRoute::savedSnapshot(const SettingsStore& defaults)
{
    const auto data = defaults.get<DefaultsData>(recoveryKey);
    if (!data)
        return std::nullopt;
    return Snapshot::decode(std::string(data->begin(), data->end()));
}

SystemAudioRoute::SystemAudioRoute(SettingsStore& defaults, Devices devices, Current current, SetDefault setDefault,
                                   std::optional<Snapshot> snapshot)
    : defaults_(defaults), devices_(std::move(devices)), current_(std::move(current)),
      setDefault_(std::move(setDefault)), snapshot_(std::move(snapshot))
{
}

void SystemAudioRoute::persistSnapshot(std::optional<Snapshot> snapshot)
{
    // The settings are written first: when that throws, memory still agrees
    // with what is stored.
    if (snapshot) {
        std::string json;
        try {
            json = snapshot->json();
        } catch (const nlohmann::json::exception&) {
            // A UID that is not valid UTF-8 cannot be encoded; no record is
            // better than a broken one.
        }
        if (json.empty())
            defaults_.remove(recoveryKey);
        else
            defaults_.set(recoveryKey, DefaultsData(json.begin(), json.end()));
    } else {
        defaults_.remove(recoveryKey);
    }
    snapshot_ = std::move(snapshot);
}

void SystemAudioRoute::routeInput(const AudioDevice& device, const std::optional<std::string>& fallbackUID)
{
    const std::vector<AudioDevice> devices = devices_();
    const std::optional<AudioObjectId> currentID = current_(true);
    const AudioDevice* current = findByID(devices, currentID);

    if (!snapshot_ || snapshot_->routedInput.empty()) {
        Snapshot record;
        const std::string unlisted = current ? std::string() : unlistedInputUID(currentID);
        if (current && !isVirtualMicrophone(current->uid))
            record.oldInput = current->uid;
        else if (!unlisted.empty())
            record.oldInput = unlisted;
        else
            record.oldInput = fallbackUID.value_or("");
        if (snapshot_) {
            record.oldOutput = snapshot_->oldOutput;
            record.routedOutput = snapshot_->routedOutput;
        }
        record.routedInput = device.uid;
        persistSnapshot(record);
    }

    if (current && current->id == device.id)
        return;
    try {
        setDefault_(device.id, true);
        return;
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        if (current_(true) == device.id)
            return;
        if (snapshot_) {
            std::optional<Snapshot> remaining;
            if (!snapshot_->routedOutput.empty())
                remaining = Snapshot{"", snapshot_->oldOutput, "", snapshot_->routedOutput};
            try {
                persistSnapshot(remaining);
            } catch (...) {
                // The switch's own failure is what the caller must see.
            }
        }
        std::rethrow_exception(failure);
    }
}

std::optional<std::string> SystemAudioRoute::restoreHalf(bool input, const std::string& oldUID,
                                                         const std::string& routedUID,
                                                         const std::vector<AudioDevice>& devices)
{
    if (routedUID.empty() || devices.empty())
        return std::nullopt;
    const AudioDevice* current = findByID(devices, current_(input));
    if (!current || current->uid != routedUID)
        return std::nullopt;
    if (oldUID == routedUID)
        return std::nullopt;

    const AudioDevice* target = nullptr;
    std::optional<AudioObjectId> targetID;
    // An empty old UID names no device, not one whose UID could not be read.
    if (!oldUID.empty()) {
        auto found =
            std::find_if(devices.begin(), devices.end(), [&](const AudioDevice& d) { return d.uid == oldUID; });
        if (found != devices.end())
            target = &*found;
        else
            targetID = unlistedDevice(oldUID, input);
    }
    // Only listed devices stand in for a previous one that is gone.
    if (!target && !targetID) {
        auto found = std::find_if(devices.begin(), devices.end(), [input](const AudioDevice& d) {
            return !isVirtualMicrophone(d.uid) && d.transportType != AudioTransports::virtualDevice
                && (input ? d.inputChannels : d.outputChannels) >= 1;
        });
        if (found != devices.end())
            target = &*found;
    }
    if (target)
        targetID = target->id;
    if (!targetID)
        return input ? localized("原麦克风未连接") : localized("原声音输出未连接");
    try {
        setDefault_(*targetID, input);
    } catch (...) {
        return describe(std::current_exception());
    }
    return std::nullopt;
}

void SystemAudioRoute::restoreOutput()
{
    if (!snapshot_ || snapshot_->routedOutput.empty())
        return;
    const Snapshot old = *snapshot_;
    std::vector<std::string> problems;
    if (auto problem = restoreHalf(false, old.oldOutput, old.routedOutput, devices_()))
        problems.push_back(*problem);
    // Written after the give-back, for the same reason as below; a record
    // that keeps its output half switches nothing once the half is undone.
    try {
        persistSnapshot(old.routedInput.empty() ? std::nullopt
                                                : std::optional(Snapshot{old.oldInput, "", old.routedInput, ""}));
    } catch (...) {
        problems.push_back(describe(std::current_exception()));
    }
    throwProblems(problems);
}

void SystemAudioRoute::restoreSavedRoute()
{
    if (!snapshot_)
        return;
    const Snapshot old = *snapshot_;
    // Forgotten in memory before anything is tried, so a failure below never
    // restores twice in this run.
    snapshot_.reset();

    const std::vector<AudioDevice> devices = devices_();
    std::vector<std::string> problems;
    if (!old.routedInput.empty())
        if (auto problem = restoreHalf(true, old.oldInput, old.routedInput, devices))
            problems.push_back(*problem);
    if (!old.routedOutput.empty())
        if (auto problem = restoreHalf(false, old.oldOutput, old.routedOutput, devices))
            problems.push_back(*problem);
    // The record goes only after the devices were given back: a settings
    // store that refuses the write must not keep the user's microphone. The
    // record it keeps is harmless, as a later start switches only a half
    // that is still routed.
    try {
        defaults_.remove(recoveryKey);
    } catch (...) {
        problems.push_back(describe(std::current_exception()));
    }
    throwProblems(problems);
}

}  // namespace parlaro
