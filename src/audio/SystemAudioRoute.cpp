#include "audio/SystemAudioRoute.h"

#include "audio/AudioClient.h"
#include "audio/AudioDevices.h"
#include "platform/JsonInput.h"
#include "runtime/Error.h"
#include "runtime/Runtime.h"
#include "speech/Localization.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <exception>
#include <utility>

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

// The program's other processes with streams on the server.
std::vector<AudioObjectId> otherCopies()
{
    AudioSystem& system = audioSystem();
    const std::int32_t own = system.currentProcessID();
    std::vector<AudioObjectId> processes;
    std::vector<AudioObjectId> copies;
    if (system.get(audioSystemObject, {AudioSelectors::processes}, processes) != AudioStatuses::ok)
        return copies;
    for (const AudioObjectId process : processes) {
        AudioClient client;
        std::uint32_t pid = 0;
        AudioString bundle;
        if (system.get(process, {AudioSelectors::processPID}, pid) != AudioStatuses::ok
            || system.get(process, {AudioSelectors::processBundleID}, bundle) != AudioStatuses::ok || !bundle)
            continue;
        client.pid = static_cast<std::int32_t>(pid);
        client.bundleID = *bundle;
        if (client.pid != own && !client.isForeign())
            copies.push_back(process);
    }
    return copies;
}

bool anotherCopyRuns()
{
    return !otherCopies().empty();
}

// The input the user had before another copy of the program took it over,
// as that copy keeps it on the server; empty when none does.
std::string othersOriginalInput()
{
    for (const AudioObjectId process : otherCopies()) {
        AudioString uid;
        if (audioSystem().get(process, {AudioSelectors::processOriginalInput}, uid) == AudioStatuses::ok && uid
            && !uid->empty() && !isVirtualMicrophone(*uid))
            return *uid;
    }
    return {};
}

void throwProblems(const std::vector<std::string>& problems)
{
    if (problems.empty())
        return;
    // Each problem is a sentence of its own, joined as the interface
    // language joins two.
    std::string text = problems.front();
    for (std::size_t i = 1; i < problems.size(); ++i)
        text = localized("%@；%@", text, problems[i]);
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

void SystemAudioRoute::publishOriginalInput(const std::string& uid)
{
    if (uid == published_)
        return;
    // Best effort: a copy that cannot read it falls back on its own record.
    if (audioSystem().setPropertyData(audioSystemObject, {AudioSelectors::publishedOriginalInput}, AudioString(uid))
        == AudioStatuses::ok)
        published_ = uid;
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
        // Another copy that made the virtual microphone the default knows
        // what the user had; the last copy to quit gives that back.
        const std::string others = current && isVirtualMicrophone(current->uid) ? othersOriginalInput() : std::string();
        if (current && !isVirtualMicrophone(current->uid))
            record.oldInput = current->uid;
        else if (!unlisted.empty())
            record.oldInput = unlisted;
        else if (!others.empty())
            record.oldInput = others;
        else
            record.oldInput = fallbackUID.value_or("");
        if (snapshot_) {
            record.oldOutput = snapshot_->oldOutput;
            record.routedOutput = snapshot_->routedOutput;
        }
        record.routedInput = device.uid;
        persistSnapshot(record);
    }

    publishOriginalInput(snapshot_ ? snapshot_->oldInput : std::string());
    giveBackUnfinished_ = false;
    kept_.reset();
    // A give-back of a stranded input may land after this read; switched
    // again after it, the virtual microphone is the server's last word.
    const bool reclaimPending = std::exchange(reclaimUnseen_, false);
    if (current && current->id == device.id && !reclaimPending) {
        inputSwitchUnseen_ = false;
        return true;
    }
    try {
        setDefault_(device.id, true);
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        if (isDefault(device.id, true) == true) {
            inputSwitchUnseen_ = false;
            return true;
        }
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
    const bool landed = isDefault(device.id, true) == true;
    inputSwitchUnseen_ = !landed;
    return landed;
}

std::optional<std::optional<AudioObjectId>> SystemAudioRoute::askCurrent(bool input) const
{
    try {
        return current_(input);
    } catch (...) {
        // Unknown, which every caller treats as such.
        return std::nullopt;
    }
}

std::optional<bool> SystemAudioRoute::isDefault(AudioObjectId device, bool input) const
{
    const auto current = askCurrent(input);
    if (!current)
        return std::nullopt;
    return *current == device;
}

SystemAudioRoute::HalfOutcome SystemAudioRoute::restoreHalf(bool input, const std::string& oldUID,
                                                            const std::string& routedUID,
                                                            const std::vector<AudioDevice>& devices)
{
    // An empty old output names no device: nothing to give back. An empty
    // old input (the virtual microphone was the default already, and no
    // copy said what the user had) is given back as a missing one is, unless
    // another copy holds it.
    if (routedUID.empty() || oldUID == routedUID || (oldUID.empty() && !input))
        return {};
    const auto asked = askCurrent(input);
    // Not known: asked again a moment later, else at the next start.
    if (!asked || devices.empty())
        return {std::nullopt, true, true};
    const AudioDevice* current = findByID(devices, *asked);
    const bool routed = current && current->uid == routedUID;
    if (input && routed && anotherCopyRuns())
        return {std::nullopt, true, false};
    // A switch sent this run may land after the quit on a server that is
    // behind; choosing the user's input again puts it last.
    const bool unseen = input && inputSwitchUnseen_ && !routed;
    if (!routed && !unseen)
        return {};

    const AudioDevice* target = nullptr;
    std::optional<AudioObjectId> targetID;
    auto found = std::find_if(devices.begin(), devices.end(),
                              [&](const AudioDevice& d) { return !oldUID.empty() && d.uid == oldUID; });
    if (found != devices.end())
        target = &*found;
    else if (!oldUID.empty())
        targetID = unlistedDevice(oldUID, input);
    // Only listed devices stand in for a previous one that is gone, and for
    // an input the speakers' monitor after them: the virtual microphone
    // must not stay the default with no copy of the program running.
    if (!target && !targetID) {
        if (input && !unseen) {
            if (const auto standIn = standInInput(devices))
                targetID = standIn->id;
        } else {
            auto found = std::find_if(devices.begin(), devices.end(), [input](const AudioDevice& d) {
                return !isVirtualMicrophone(d.uid) && d.transportType != AudioTransports::virtualDevice
                    && (input ? d.inputChannels : d.outputChannels) >= 1;
            });
            if (found != devices.end())
                target = &*found;
        }
    }
    if (target)
        targetID = target->id;
    if (unseen) {
        // Only the device the user had, and only while it is the default.
        if (targetID && targetID == *asked) {
            try {
                setDefault_(*targetID, input);
            } catch (...) {
                // The half stays recorded either way.
            }
        }
        return {std::nullopt, true};
    }
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
        const auto now = askCurrent(input);
        if (now && *now != routedID)
            return {};
        if (refused)
            break;
    }
    return {problem ? *problem : unappliedSwitchText(input), true, true};
}

std::optional<AudioDevice> SystemAudioRoute::standInInput(const std::vector<AudioDevice>& devices) const
{
    auto microphone = std::find_if(devices.begin(), devices.end(), [](const AudioDevice& d) {
        return !isVirtualMicrophone(d.uid) && d.transportType != AudioTransports::virtualDevice && d.inputChannels >= 1;
    });
    if (microphone != devices.end())
        return *microphone;
    const auto output = askCurrent(false);
    if (!output)
        return std::nullopt;
    // A machine without a microphone records its speakers' monitor.
    const AudioDevice* speakers = findByID(devices, *output);
    const std::string monitor = speakers ? speakers->uid + ".monitor" : std::string();
    if (!speakers || isVirtualMicrophone(speakers->uid))
        return std::nullopt;
    const auto id = unlistedDevice(monitor, true);
    if (!id)
        return std::nullopt;
    return AudioDevice{
        .id = *id,
        .name = AudioDevices::stringProperty(*id, AudioSelectors::name).value_or(monitor),
        .uid = monitor,
    };
}

std::optional<AudioDevice> SystemAudioRoute::reclaimStrandedInput()
{
    if (snapshot_)
        return std::nullopt;
    const std::vector<AudioDevice> devices = devices_();
    const auto current = askCurrent(true);
    const AudioDevice* routed = current ? findByID(devices, *current) : nullptr;
    if (!routed || !isVirtualMicrophone(routed->uid) || anotherCopyRuns())
        return std::nullopt;
    const std::optional<AudioDevice> target = standInInput(devices);
    if (!target)
        return std::nullopt;
    try {
        setDefault_(target->id, true);
    } catch (...) {
        // Nothing given back; the takeover that follows records the
        // virtual microphone's own previous input as before.
        return std::nullopt;
    }
    reclaimUnseen_ = isDefault(target->id, true) != true;
    return target;
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
    giveBackUnfinished_ = false;
    const auto restore = [&](bool input, const std::string& oldUID, const std::string& routedUID, std::string& keptOld,
                             std::string& keptRouted) {
        const HalfOutcome outcome = restoreHalf(input, oldUID, routedUID, devices);
        if (outcome.problem)
            problems.push_back(*outcome.problem);
        giveBackUnfinished_ = giveBackUnfinished_ || outcome.retry;
        if (outcome.stillRouted) {
            keptOld = oldUID;
            keptRouted = routedUID;
        }
    };
    restore(true, old.oldInput, old.routedInput, remaining.oldInput, remaining.routedInput);
    restore(false, old.oldOutput, old.routedOutput, remaining.oldOutput, remaining.routedOutput);
    kept_ = remaining.routedInput.empty() && remaining.routedOutput.empty() ? std::nullopt : std::optional(remaining);
    publishOriginalInput(remaining.routedInput.empty() ? std::string() : remaining.oldInput);
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

void SystemAudioRoute::retryGiveBack()
{
    if (!giveBackUnfinished_ || !kept_ || snapshot_)
        return;
    snapshot_ = kept_;
    restoreSavedRoute();
}

}  // namespace parlaro
