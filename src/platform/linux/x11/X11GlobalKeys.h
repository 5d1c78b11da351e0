#pragma once

#include "platform/GlobalKeys.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

struct xcb_connection_t;

namespace parlaro::sys {

class XkbKeymap;

// Global keys on an X display through a connection of our own, whatever
// toolkit draws the windows. A combination is a passive grab on the root
// window; lone modifiers and the keys typed while one is held come from
// XInput 2 raw key events, which every client may read. Each X request is
// checked, so a grab another client holds, or a missing extension, is
// reported instead of leaving a dead shortcut. A reader thread only posts
// what it reads to the main executor.
class X11GlobalKeys : public GlobalKeys {
public:
    // Null when the display cannot be reached. Null `display` means $DISPLAY.
    static std::unique_ptr<X11GlobalKeys> connect(const char* display = nullptr);
    ~X11GlobalKeys() override;

    void setHandlers(Handlers handlers) override;
    bool registerCombination(std::uint32_t keyCode, std::uint32_t modifiers) override;
    void unregisterCombination() override;
    bool listenAccess() const override;
    Method method() const override { return Method::displayServer; }
    void requestListenAccess() override {}
    bool startModifierWatch() override;
    void stopModifierWatch() override;
    void reenableModifierWatch() override;
    bool startKeyWatch() override;
    void stopKeyWatch() override;
    std::optional<std::string> keyCharacter(std::uint32_t keyCode) const override;
    void catchUp() override;

    bool hasRawKeys() const { return rawKeys_; }
    bool hasDetectableAutorepeat() const { return detectableAutorepeat_; }

private:
    enum class Raw : std::uint8_t { corePress, coreRelease, rawPress, rawRelease, keymapChanged };

    X11GlobalKeys(xcb_connection_t* connection, int screen);
    void setUpExtensions();
    void readEvents();
    void wakeReader();
    void deliver(Raw kind, std::uint32_t xKeycode);
    // Moves what the connection holds into read_; with readMutex_ held.
    void readAvailable();
    // Delivers what was read, in order; main actor.
    void deliverRead(bool readFirst);
    bool selectRawKeys(bool on);
    void ungrab(std::uint8_t keycode, std::uint16_t mask, int variants);
    void loadKeymap();

    xcb_connection_t* connection_;
    std::uint32_t root_ = 0;
    std::uint8_t xinputOpcode_ = 0;
    std::uint8_t xkbFirstEvent_ = 0;
    bool xkbEvents_ = false;
    // Set by the reader when a keymap reload is on its way to the main executor.
    std::atomic<bool> keymapReloadPosted_{false};
    // Events read off the connection, not yet delivered: taken off the
    // connection and queued here in one step, so that whichever thread
    // reads next keeps their order.
    std::mutex readMutex_;
    std::vector<std::pair<Raw, std::uint32_t>> read_;
    bool deliveryPosted_ = false;
    bool rawKeys_ = false;
    bool detectableAutorepeat_ = false;
    bool rawSelected_ = false;
    std::unique_ptr<XkbKeymap> keymap_;

    // Main actor.
    Handlers handlers_;
    std::optional<std::uint8_t> grabbedKeycode_;
    std::uint16_t grabbedMask_ = 0;
    bool modifierWatch_ = false;
    bool keyWatch_ = false;
    std::uint64_t heldFlags_ = 0;
    std::shared_ptr<X11GlobalKeys*> self_;

    int wakeFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread reader_;
};

}  // namespace parlaro::sys
