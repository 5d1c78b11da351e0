#include "audio/SystemAudioRoute.h"

#include "audio/AudioDevices.h"
#include "platform/JsonInput.h"
#include "runtime/Error.h"
#include "runtime/Runtime.h"
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

bool SystemAudioRoute::routeInput(const AudioDevice& device, const std::optional<std::string>& fallbackUID)
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
        return true;
    try {
        setDefault_(device.id, true);
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        if (current_(true) == device.id)
            return true;
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
    // Accepted: a server under load may apply it only later, and the record
    // written above already covers that.
    return current_(true) == device.id;
}

SystemAudioRoute::HalfOutcome SystemAudioRoute::restoreHalf(bool input, const std::string& oldUID,
                                                            const std::string& routedUID,
                                                            const std::vector<AudioDevice>& devices)
{
    if (routedUID.empty() || devices.empty())
        return {};
    const AudioDevice* current = findByID(devices, current_(input));
    if (!current || current->uid != routedUID)
        return {};
    if (oldUID == routedUID)
        return {};

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
        return {input ? localized("原麦克风未连接") : localized("原声音输出未连接"), false};
    // Confirmed by reading the default back: a server that accepted the
    // give-back may not have applied it yet, and one that refused it may
    // still have.
    const AudioObjectId routedID = current->id;
    const rt::Instant started = rt::clock().now();
    std::optional<std::string> problem;
    for (int attempt = 0; attempt < giveBackAttempts && rt::clock().now() - started < giveBackSeconds; ++attempt) {
        bool refused = false;
        try {
            setDefault_(*targetID, input);
            problem.reset();
        } catch (...) {
            problem = describe(std::current_exception());
            refused = true;
        }
        if (current_(input) != routedID)
            return {};
        if (refused)
            break;
    }
    return {problem ? *problem : unappliedSwitchText(input), true};
}

std::string SystemAudioRoute::unappliedSwitchText(bool input)
{
    return localized("声音服务器接受了系统%@的切换，但没有生效", input ? localized("麦克风") : localized("声音输出"));
}

void SystemAudioRoute::restoreOutput()
{
    if (!snapshot_ || snapshot_->routedOutput.empty())
        return;
    const Snapshot old = *snapshot_;
    std::vector<std::string> problems;
    const HalfOutcome output = restoreHalf(false, old.oldOutput, old.routedOutput, devices_());
    if (output.problem)
        problems.push_back(*output.problem);
    // Written after the give-back, for the same reason as below; a record
    // that keeps its output half switches nothing once the half is undone.
    Snapshot remaining{old.oldInput, "", old.routedInput, ""};
    if (output.stillRouted) {
        remaining.oldOutput = old.oldOutput;
        remaining.routedOutput = old.routedOutput;
    }
    try {
        persistSnapshot(remaining.routedInput.empty() && remaining.routedOutput.empty() ? std::nullopt
                                                                                        : std::optional(remaining));
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
    Snapshot remaining;
    const auto restore = [&](bool input, const std::string& oldUID, const std::string& routedUID, std::string& keptOld,
                             std::string& keptRouted) {
        const HalfOutcome outcome = restoreHalf(input, oldUID, routedUID, devices);
        if (outcome.problem)
            problems.push_back(*outcome.problem);
        if (outcome.stillRouted) {
            keptOld = oldUID;
            keptRouted = routedUID;
        }
    };
    restore(true, old.oldInput, old.routedInput, remaining.oldInput, remaining.routedInput);
    restore(false, old.oldOutput, old.routedOutput, remaining.oldOutput, remaining.routedOutput);
    // The record goes only after the devices were given back: a settings
    // store that refuses the write must not keep the user's microphone. The
    // record it keeps is harmless, as a later start switches only a half
    // that is still routed. A half still routed stays recorded, so the next
    // start gives it back.
    try {
        if (!remaining.routedInput.empty() || !remaining.routedOutput.empty()) {
            const std::string json = remaining.json();
            defaults_.set(recoveryKey, DefaultsData(json.begin(), json.end()));
        } else {
            defaults_.remove(recoveryKey);
        }
    } catch (...) {
        problems.push_back(describe(std::current_exception()));
    }
    throwProblems(problems);
}

}  // namespace parlaro
