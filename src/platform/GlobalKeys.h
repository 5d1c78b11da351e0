#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace parlaro {

// System-wide keys for the hold shortcut: one registered combination, and a
// listen-only watch of modifier changes (plus, while a lone modifier is held,
// of ordinary key presses). Key codes are the stored shortcut codes
// (KeyCodes.h); masks are the stored modifier masks. Events reach the
// handlers on the main executor only. Main actor only.
class GlobalKeys {
public:
    // Event types handed to `tap`.
    static constexpr std::uint32_t keyDownType = 10;
    static constexpr std::uint32_t flagsChangedType = 12;
    // The watch stopped delivering (a device vanished) and was restarted.
    static constexpr std::uint32_t watchDisabledType = 0xFFFFFFFE;

    // Flag bits of a flagsChanged event: the bit of each held modifier key.
    static constexpr std::uint64_t rightOptionFlag = 0x40;
    static constexpr std::uint64_t leftOptionFlag = 0x20;
    static constexpr std::uint64_t rightCommandFlag = 0x10;
    static constexpr std::uint64_t rightControlFlag = 0x2000;
    static constexpr std::uint64_t rightShiftFlag = 0x4;
    static constexpr std::uint64_t functionFlag = 0x800000;

    struct Handlers {
        std::function<void(bool pressed)> hotKey;
        std::function<void(std::uint32_t type, std::uint16_t keyCode, std::uint64_t flags)> tap;
    };

    virtual ~GlobalKeys() = default;

    virtual void setHandlers(Handlers handlers) = 0;

    // False when refused: held by another client, or no way to read keys.
    virtual bool registerCombination(std::uint32_t keyCode, std::uint32_t modifiers) = 0;
    virtual void unregisterCombination() = 0;

    virtual bool listenAccess() const = 0;
    // Asks for access where the system can ask; a no-op elsewhere.
    virtual void requestListenAccess() = 0;

    // False when the watch cannot run.
    virtual bool startModifierWatch() = 0;
    virtual void stopModifierWatch() = 0;
    // Turns a stopped-delivering modifier watch back on.
    virtual void reenableModifierWatch() = 0;
    virtual bool startKeyWatch() = 0;
    virtual void stopKeyWatch() = 0;

    // The upper-case character the current layout types for the key with no
    // modifier ("AltGr" for its third-level shift); nullopt when unknown.
    virtual std::optional<std::string> keyCharacter(std::uint32_t keyCode) const = 0;
};

}  // namespace parlaro
