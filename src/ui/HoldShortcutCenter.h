#pragma once

#include "platform/GlobalKeys.h"
#include "runtime/Observable.h"
#include "ui/HoldShortcut.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace parlaro::ui {

// Follows one modifier key held alone: its press and release, and whether
// an ordinary key interrupted the hold.
struct ModifierHoldTracker {
    enum class Change { none, down, up };

    HoldShortcut::ModifierKey key;
    bool isDown = false;
    bool interrupted = false;

    Change handle(std::uint16_t keyCode, std::uint64_t flags);
    static std::uint64_t flagBit(HoldShortcut::ModifierKey key);
};

// A desktop-wide shortcut the user cannot take (none are known on Linux;
// window-manager grabs show up as a refused registration).
struct SystemShortcut {
    bool enabled = false;
    std::uint32_t keyCode = 0;
    std::uint32_t modifiers = 0;
};

// Makes the hold shortcut work system-wide and turns holding it into three
// callbacks. Every hold gives one onDown, then one onUp or one onCancel.
// Observable: `status` and `shortcut`. Main actor only.
class HoldShortcutCenter : public rt::ObservableObject {
public:
    enum class Status { off, active, taken, needsPermission };

    explicit HoldShortcutCenter(GlobalKeys& keys, std::vector<SystemShortcut> systemShortcuts = {});
    ~HoldShortcutCenter();
    HoldShortcutCenter(const HoldShortcutCenter&) = delete;
    HoldShortcutCenter& operator=(const HoldShortcutCenter&) = delete;

    std::function<void()> onDown;
    std::function<void()> onUp;
    std::function<void()> onCancel;

    // Releases what is registered (a press in progress ends with onCancel),
    // then registers `shortcut`.
    Status activate(const std::optional<HoldShortcut>& shortcut);
    // Releases what is registered and cancels a press; keeps status and shortcut.
    void deactivate();

    Status status() const { return status_.get(); }
    // Between a hold's onDown and its onUp or onCancel.
    bool isHeld() const { return hotKeyDown_ || (tracker_ && tracker_->isDown && !tracker_->interrupted); }
    // The same once every key event the system already sent has been
    // handled: what a focus loss that a press may have caused goes by.
    bool isHeldNow()
    {
        keys_.catchUp();
        return isHeld();
    }
    const std::optional<HoldShortcut>& shortcut() const { return shortcut_.get(); }

    // What the user is told when the status is needsPermission.
    static std::string permissionText();
    // How the keys reach the program here, and that in the interface language.
    GlobalKeys::Method keysMethod() const;
    std::string methodText() const;
    // What keeps the shortcut from working and what the user can do about
    // it; none when the backend knows of nothing.
    GlobalKeys::Obstacle keysObstacle() const;
    std::optional<std::string> obstacleText() const;

    bool conflictsWithSystemShortcut(std::uint32_t keyCode, std::uint32_t modifiers) const;

    // Event entry points, as the backend delivers them.
    void handleHotKey(bool pressed);
    void handleTapEvent(std::uint32_t type, std::uint16_t keyCode, std::uint64_t flags);

private:
    // What deactivate() does, without marking the center deactivated.
    void release();
    bool startModifierTap(HoldShortcut::ModifierKey key);
    void startKeyTap();
    void stopKeyTap();
    void call(const std::function<void()>& callback);

    GlobalKeys& keys_;
    std::vector<SystemShortcut> systemShortcuts_;
    rt::Observable<Status> status_{Status::off, changes()};
    rt::Observable<std::optional<HoldShortcut>> shortcut_{std::nullopt, changes()};
    // Bumped whenever what the backend says about access may have changed,
    // so views showing methodText() and obstacleText() read them again.
    rt::Observable<int> accessRevision_{0, changes()};
    bool hotKey_ = false;
    bool tap_ = false;
    bool keyTap_ = false;
    std::optional<ModifierHoldTracker> tracker_;
    bool hotKeyDown_ = false;
    // Deactivated by a caller and not activated since.
    bool suspended_ = false;
};

}  // namespace parlaro::ui
