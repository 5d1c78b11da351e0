#pragma once

#include "audio/AudioDevice.h"
#include "platform/SettingsStore.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace parlaro {

// Makes a chosen device (in practice the virtual microphone) the system's
// default input and puts the user's previous defaults back later. Before it
// switches it writes a recovery record to the settings, so a start after a
// crash can still put them back. Main actor only.
class SystemAudioRoute {
public:
    // Device UIDs, empty for none. The input half is (oldInput, routedInput),
    // the output half (oldOutput, routedOutput); a half is active while its
    // routed member is not empty.
    struct Snapshot {
        std::string oldInput;
        std::string oldOutput;
        std::string routedInput;
        std::string routedOutput;

        // A JSON object with exactly the four string members.
        std::string json() const;
        // Needs all four members as strings; anything else gives no record.
        static std::optional<Snapshot> decode(const std::string& json);

        bool operator==(const Snapshot&) const = default;
    };

    using Devices = std::function<std::vector<AudioDevice>()>;
    // The default as the system itself says it is now, not a copy its
    // announcements keep (a server may stop announcing); throws when the
    // system cannot be asked.
    using Current = std::function<std::optional<AudioObjectId>(bool input)>;
    // Throws when the system refuses the switch; one it accepted may take
    // effect a while later, which `Current` tells.
    using SetDefault = std::function<void(AudioObjectId device, bool input)>;

    static constexpr const char* recoveryKey = "systemAudioRouteRecovery";
    // How often a give-back is sent while the routed device stays the
    // default, and for how long a new try may start: a server under load
    // may apply one a few seconds late, and a quit should not wait much
    // longer than that.
    static constexpr int giveBackAttempts = 3;
    static constexpr double giveBackSeconds = 2.5;

    // The record stored under the recovery key, as JSON data; none when the
    // key is absent or its data does not decode (the data is left alone).
    static std::optional<Snapshot> savedSnapshot(const SettingsStore& defaults);
    // The UID of a default input the device list leaves out (a speaker's
    // monitor on a machine without a microphone) that a route may give back;
    // empty when there is none or it is one of ours.
    static std::string unlistedInputUID(std::optional<AudioObjectId> id);

    SystemAudioRoute(SettingsStore& defaults, Devices devices, Current current, SetDefault setDefault,
                     std::optional<Snapshot> snapshot);

    // Makes `device` the default input. When the current default is one of
    // the virtual devices, the previous input is the one another copy of the
    // program that took it keeps on the server, else the fallback UID (the
    // input that was the default when the program launched). A default
    // the device list leaves out (a speaker's monitor) is remembered by UID
    // and given back, though it never stands in for a missing one. True when
    // the device is the default input now; false when the system accepted
    // the switch without applying it yet: the record stays, so a switch that
    // takes effect later is given back like any other. Throws the switch's
    // "SystemAudio" error unless the device became the default anyway.
    bool routeInput(const AudioDevice& device, const std::optional<std::string>& fallbackUID);
    // Undoes the output half only, then stores what is left of the record;
    // throws DomainError "SystemAudioRoute" 1 with every problem.
    void restoreOutput();
    // Undoes both halves, then forgets the record (kept in the settings when
    // they refuse the write). A half goes only when the system, asked, says
    // its routed device is not the default: one still routed after the
    // give-back, one the system could not be asked about, and one whose
    // switch went out this run unseen (it may land yet; the user's input is
    // chosen again after it) stay recorded, so the next start gives them
    // back. A routed input is not given back while another copy of the
    // program runs on the server: that copy holds it by right, and the half
    // stays recorded for a later start. A previous input that is gone, or
    // was never known, is stood in for by a listed physical input, else the
    // default output's monitor; an empty previous output gives nothing back.
    // Throws DomainError "SystemAudioRoute" 1 with every problem, joined by
    // "；".
    void restoreSavedRoute();
    // The last give-back left a half the system did not answer about, or
    // did not apply: a stalled server may still take a try made later.
    bool giveBackUnfinished() const { return giveBackUnfinished_; }
    // Gives back again what the last give-back left recorded; throws as
    // restoreSavedRoute().
    void retryGiveBack();
    // Whether the device is the default now, as the system itself says;
    // none when it cannot be asked.
    std::optional<bool> isDefault(AudioObjectId device, bool input) const;
    // At a start with no record: when the default input is the virtual
    // microphone and no other copy of the program runs on the server (it
    // would hold the input by right), gives the input back to a device that
    // is not ours, a listed physical one first, else the default output's
    // monitor. The device when it was given back (the system may apply
    // the switch a while later; a routeInput() before it is seen to land
    // sends its switch anyway, to land after it).
    std::optional<AudioDevice> reclaimStrandedInput();
    // The text for a switch the system accepted and did not apply.
    static std::string unappliedSwitchText(bool input);
    // Stores a new record (none removes it) in memory and in the settings.
    void persistSnapshot(std::optional<Snapshot> snapshot);

    const std::optional<Snapshot>& snapshot() const { return snapshot_; }

    // Keeps the user's previous input on the sound server beside this
    // process while the virtual microphone it routed is the default, so that
    // a copy of the program started meanwhile (another user's, or another
    // build's, with a home of its own) records it and, quitting last, gives
    // it back.
    void publishOriginalInput(const std::string& uid);

private:
    struct HalfOutcome {
        std::optional<std::string> problem;
        // The routed device is still the default: the half stays recorded.
        bool stillRouted = false;
        // Unknown or not applied, so a later try may still give it back.
        bool retry = false;
    };
    HalfOutcome restoreHalf(bool input, const std::string& oldUID, const std::string& routedUID,
                            const std::vector<AudioDevice>& devices);

    // What stands in for a user's input that is gone: a listed physical
    // input, else the default output's monitor; none when neither exists.
    std::optional<AudioDevice> standInInput(const std::vector<AudioDevice>& devices) const;

    // The system's answer, none when it cannot be asked.
    std::optional<std::optional<AudioObjectId>> askCurrent(bool input) const;

    SettingsStore& defaults_;
    Devices devices_;
    Current current_;
    SetDefault setDefault_;
    std::optional<Snapshot> snapshot_;
    // An input switch went out this run and was not seen to land.
    bool inputSwitchUnseen_ = false;
    // A stranded input was given back and not seen to land: the virtual
    // microphone still reads as the default, but will not stay it.
    bool reclaimUnseen_ = false;
    // What the last give-back kept recorded, and whether a try may help.
    std::optional<Snapshot> kept_;
    bool giveBackUnfinished_ = false;
    std::string published_;
};

}  // namespace parlaro
