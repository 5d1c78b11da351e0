#include "platform/linux/evdev/EvdevKeyDecoder.h"

#include "platform/GlobalKeys.h"
#include "platform/KeyCodes.h"

#include <linux/input-event-codes.h>

namespace parlaro::sys {
namespace {

std::uint32_t maskBit(std::uint16_t key)
{
    switch (key) {
    case KEY_LEFTMETA:
    case KEY_RIGHTMETA:
        return 0x100;
    case KEY_LEFTSHIFT:
    case KEY_RIGHTSHIFT:
        return 0x200;
    case KEY_LEFTALT:
    case KEY_RIGHTALT:
        return 0x800;
    case KEY_LEFTCTRL:
    case KEY_RIGHTCTRL:
        return 0x1000;
    default:
        return 0;
    }
}

}  // namespace

std::uint64_t EvdevKeyDecoder::modifierFlag(std::uint16_t key)
{
    switch (key) {
    case KEY_RIGHTALT:
        return GlobalKeys::rightAltFlag;
    case KEY_LEFTALT:
        return GlobalKeys::leftAltFlag;
    case KEY_RIGHTMETA:
        return GlobalKeys::rightSuperFlag;
    case KEY_RIGHTCTRL:
        return GlobalKeys::rightControlFlag;
    case KEY_RIGHTSHIFT:
        return GlobalKeys::rightShiftFlag;
    case KEY_FN:
        return GlobalKeys::functionFlag;
    default:
        return 0;
    }
}

bool EvdevKeyDecoder::isModifier(std::uint16_t key)
{
    return maskBit(key) != 0 || key == KEY_FN || key == KEY_CAPSLOCK;
}

void EvdevKeyDecoder::setCombination(std::optional<std::uint16_t> evdevKey, std::uint32_t modifiers)
{
    combinationKey_ = evdevKey;
    combinationMask_ = modifiers & 0x1B00;
    combinationDown_ = false;
    combinationDevice_ = -1;
}

bool EvdevKeyDecoder::held(std::uint16_t key) const
{
    for (const auto& [device, keys] : held_)
        if (keys.count(key))
            return true;
    return false;
}

std::uint32_t EvdevKeyDecoder::heldMask() const
{
    std::uint32_t mask = 0;
    for (const auto& [device, keys] : held_)
        for (std::uint16_t key : keys)
            mask |= maskBit(key);
    return mask;
}

std::uint64_t EvdevKeyDecoder::heldFlags() const
{
    std::uint64_t flags = 0;
    for (const auto& [device, keys] : held_)
        for (std::uint16_t key : keys)
            flags |= modifierFlag(key);
    return flags;
}

std::vector<EvdevKeyDecoder::Output> EvdevKeyDecoder::feed(int device, std::uint16_t type, std::uint16_t code,
                                                           std::int32_t value)
{
    std::vector<Output> out;
    // Value 2 is autorepeat: a hold is one press and one release.
    if (type != EV_KEY || (value != 0 && value != 1))
        return out;
    bool pressed = value == 1;
    if (pressed)
        held_[device].insert(code);
    else
        held_[device].erase(code);

    if (combinationKey_ && code == *combinationKey_) {
        if (pressed && !combinationDown_ && heldMask() == combinationMask_) {
            combinationDown_ = true;
            combinationDevice_ = device;
            out.push_back({Output::Kind::hotKey, true});
        } else if (!pressed && combinationDown_) {
            combinationDown_ = false;
            out.push_back({Output::Kind::hotKey, false});
        }
    }

    auto stored = keycodes::fromEvdev(code);
    if (isModifier(code)) {
        if (modifierWatch_ && stored)
            out.push_back({Output::Kind::tap, false, GlobalKeys::flagsChangedType, *stored, heldFlags()});
    } else if (pressed && keyWatch_) {
        out.push_back({Output::Kind::tap, false, GlobalKeys::keyDownType, stored.value_or(0xFFFF), 0});
    }
    return out;
}

void EvdevKeyDecoder::forgetKeys()
{
    held_.clear();
    combinationDown_ = false;
    combinationDevice_ = -1;
}

std::vector<EvdevKeyDecoder::Output> EvdevKeyDecoder::deviceLost(int device)
{
    std::vector<Output> out;
    bool hadKeys = held_.count(device) && !held_[device].empty();
    held_.erase(device);
    bool comboLost = combinationDown_ && combinationDevice_ == device;
    if (comboLost)
        combinationDown_ = false;
    if (comboLost || (hadKeys && modifierWatch_))
        out.push_back({Output::Kind::tap, false, GlobalKeys::watchDisabledType, 0, 0});
    return out;
}

}  // namespace parlaro::sys
