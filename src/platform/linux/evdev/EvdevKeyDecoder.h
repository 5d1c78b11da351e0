#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace parlaro::sys {

// Turns the key events of every keyboard into hold-shortcut events: a
// combination fires when its key goes down while exactly its modifiers are
// held (either side) and ends when that key comes up; modifier changes and,
// while asked, ordinary key presses go out as watch events. Autorepeat is
// ignored. Keys are tracked per device so a device that vanishes takes its
// held keys with it. Pure logic: no devices, no threads.
class EvdevKeyDecoder {
public:
    struct Output {
        enum class Kind { hotKey, tap } kind;
        bool pressed = false;
        std::uint32_t type = 0;
        std::uint16_t keyCode = 0;
        std::uint64_t flags = 0;
        bool operator==(const Output&) const = default;
    };

    // Input-event key code and stored modifier mask.
    void setCombination(std::optional<std::uint16_t> evdevKey, std::uint32_t modifiers = 0);
    void setModifierWatch(bool on) { modifierWatch_ = on; }
    void setKeyWatch(bool on) { keyWatch_ = on; }
    bool listening() const { return combinationKey_.has_value() || modifierWatch_; }

    // One input_event of `device`; only key events (type 1) matter.
    std::vector<Output> feed(int device, std::uint16_t type, std::uint16_t code, std::int32_t value);
    // The device is gone: its keys are released without a word, and a hold
    // in progress is reported as interrupted.
    std::vector<Output> deviceLost(int device);

    // Reading stopped: what was held then is unknown from now on.
    void forgetKeys();

    static bool isModifier(std::uint16_t evdevKey);
    // The bit a held modifier key sets in a flagsChanged event's flags; 0
    // for keys the hold shortcut never watches.
    static std::uint64_t modifierFlag(std::uint16_t evdevKey);

private:
    std::uint32_t heldMask() const;
    std::uint64_t heldFlags() const;
    bool held(std::uint16_t evdevKey) const;

    std::optional<std::uint16_t> combinationKey_;
    std::uint32_t combinationMask_ = 0;
    int combinationDevice_ = -1;
    bool combinationDown_ = false;
    bool modifierWatch_ = false;
    bool keyWatch_ = false;
    std::map<int, std::set<std::uint16_t>> held_;
};

}  // namespace parlaro::sys
