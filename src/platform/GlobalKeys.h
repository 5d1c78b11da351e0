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
    static constexpr std::uint64_t rightAltFlag = 0x40;
    static constexpr std::uint64_t leftAltFlag = 0x20;
    static constexpr std::uint64_t rightSuperFlag = 0x10;
    static constexpr std::uint64_t rightControlFlag = 0x2000;
    static constexpr std::uint64_t rightShiftFlag = 0x4;
    static constexpr std::uint64_t functionFlag = 0x800000;

    // How keys reach the program, for the settings to tell the user.
    enum class Method {
        // The X server's grabs and raw key events.
        displayServer,
        // The desktop's shortcut service: the user confirms the binding in
        // the desktop's own dialog; only presses and releases arrive.
        shortcutPortal,
        // The keyboards under /dev/input, read directly.
        inputDevices,
        none,
    };
    // Why keys cannot be read or a shortcut not be bound.
    enum class Obstacle {
        none,
        // Keyboards exist but this account may not read them.
        keyboardsUnreadable,
        // Nothing that looks like a keyboard is attached.
        noKeyboards,
        // The user declined the binding in the desktop's dialog.
        bindingRefused,
        // The desktop's shortcut service went away.
        serviceGone,
        // The desktop's shortcut service binds combinations only.
        loneModifierUnsupported,
    };

    struct Handlers {
        std::function<void(bool pressed)> hotKey;
        std::function<void(std::uint32_t type, std::uint16_t keyCode, std::uint64_t flags)> tap;
        // What was registered stopped working, or can work again: register
        // it anew (which ends a press in progress) to learn which.
        std::function<void()> accessChanged;
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

    virtual Method method() const { return Method::none; }
    // The latest reason a registration or watch could not be made; none
    // while it works.
    virtual Obstacle obstacle() const { return Obstacle::none; }

    // The upper-case character the current layout types for the key with no
    // modifier ("AltGr" for its third-level shift); nullopt when unknown.
    virtual std::optional<std::string> keyCharacter(std::uint32_t keyCode) const = 0;

    // Hands on now every key event the system has already sent, before
    // anything else that arrived after them is acted on: a keyboard grab
    // takes the window's focus on the toolkit's own connection, and what
    // that focus loss should do depends on the press behind it.
    virtual void catchUp() {}
};

}  // namespace parlaro
