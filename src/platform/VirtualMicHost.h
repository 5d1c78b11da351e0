#pragma once

#include <optional>
#include <string>

namespace parlaro {

// The names calling applications list the virtual devices under: the
// microphone they hear the translation from and the speaker they play the
// other party into (the injection sink is ours alone). Every host gives its
// devices these names, and the window tells the user to pick exactly these.
inline constexpr const char* virtualMicrophoneName = "Parlaro Microphone";
inline constexpr const char* virtualSpeakerName = "Parlaro Speaker";
inline constexpr const char* virtualMicInjectionName = "Parlaro Microphone Injection";

// Where the virtual microphone lives: modules the sound server loads for
// this user, marked with the hash of the build that made them. Installing
// means loading (or reloading) them; no files are copied and no
// administrator rights are needed.
class VirtualMicHost {
public:
    enum class State { missing, current, stale };

    virtual ~VirtualMicHost() = default;
    virtual State state() const = 0;
    // Blocking. Nullopt on success, else the server's error text.
    virtual std::optional<std::string> ensure() = 0;
};

}  // namespace parlaro
