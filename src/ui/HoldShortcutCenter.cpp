#include "ui/HoldShortcutCenter.h"

#include "platform/GlobalKeys.h"
#include "speech/Localization.h"

#include <algorithm>

namespace parlaro::ui {

std::uint64_t ModifierHoldTracker::flagBit(HoldShortcut::ModifierKey key)
{
    switch (key) {
    case HoldShortcut::ModifierKey::rightAlt:
        return GlobalKeys::rightAltFlag;
    case HoldShortcut::ModifierKey::leftAlt:
        return GlobalKeys::leftAltFlag;
    case HoldShortcut::ModifierKey::rightSuper:
        return GlobalKeys::rightSuperFlag;
    case HoldShortcut::ModifierKey::rightControl:
        return GlobalKeys::rightControlFlag;
    case HoldShortcut::ModifierKey::rightShift:
        return GlobalKeys::rightShiftFlag;
    case HoldShortcut::ModifierKey::function:
        return GlobalKeys::functionFlag;
    }
    return 0;
}

ModifierHoldTracker::Change ModifierHoldTracker::handle(std::uint16_t keyCode, std::uint64_t flags)
{
    if (keyCode != HoldShortcut::keyCode(key))
        return Change::none;
    if (flags & flagBit(key)) {
        if (isDown)
            return Change::none;
        isDown = true;
        interrupted = false;
        return Change::down;
    }
    if (!isDown)
        return Change::none;
    bool wasInterrupted = interrupted;
    isDown = false;
    interrupted = false;
    return wasInterrupted ? Change::none : Change::up;
}

HoldShortcutCenter::HoldShortcutCenter(GlobalKeys& keys, std::vector<SystemShortcut> systemShortcuts)
    : keys_(keys), systemShortcuts_(std::move(systemShortcuts))
{
    keys_.setHandlers({
        [this](bool pressed) { handleHotKey(pressed); },
        [this](std::uint32_t type, std::uint16_t keyCode, std::uint64_t flags) {
            handleTapEvent(type, keyCode, flags);
        },
        // Registering anew ends a press the backend can no longer finish and
        // sets the status to what now holds.
        [this] {
            // Not while deactivated on purpose, as while a new shortcut is
            // being recorded: its keys must reach the recorder.
            if (auto current = shortcut_.get(); current && !suspended_)
                activate(current);
            accessRevision_.set(accessRevision_.get() + 1);
        },
    });
}

HoldShortcutCenter::~HoldShortcutCenter()
{
    keys_.setHandlers({});
    if (hotKey_)
        keys_.unregisterCombination();
    if (tap_)
        keys_.stopModifierWatch();
    if (keyTap_)
        keys_.stopKeyWatch();
}

void HoldShortcutCenter::call(const std::function<void()>& callback)
{
    if (callback)
        callback();
}

HoldShortcutCenter::Status HoldShortcutCenter::activate(const std::optional<HoldShortcut>& shortcut)
{
    release();
    suspended_ = false;
    shortcut_.set(shortcut);
    Status next = Status::off;
    if (shortcut) {
        if (const HoldShortcut::ModifierKey* key = shortcut->asModifier()) {
            next = startModifierTap(*key) ? Status::active : Status::needsPermission;
        } else {
            const HoldShortcut::Combo& combo = *shortcut->asCombo();
            if (conflictsWithSystemShortcut(combo.keyCode, combo.modifiers)) {
                next = Status::taken;
            } else if (keys_.registerCombination(combo.keyCode, combo.modifiers)) {
                hotKey_ = true;
                next = Status::active;
            } else {
                // A backend that cannot read keys at all refuses too; telling
                // that apart from a grab held elsewhere lets the user act.
                next = keys_.listenAccess() ? Status::taken : Status::needsPermission;
            }
        }
    }
    status_.set(next);
    return status_.get();
}

void HoldShortcutCenter::deactivate()
{
    release();
    suspended_ = true;
}

void HoldShortcutCenter::release()
{
    if (hotKeyDown_) {
        hotKeyDown_ = false;
        call(onCancel);
    }
    if (tracker_ && tracker_->isDown)
        call(onCancel);
    if (hotKey_) {
        keys_.unregisterCombination();
        hotKey_ = false;
    }
    if (tap_) {
        keys_.stopModifierWatch();
        tap_ = false;
    }
    stopKeyTap();
    tracker_.reset();
}

std::string HoldShortcutCenter::permissionText()
{
    return localized("单独用一个修饰键需要「输入监控」权限：在系统设置中允许 wenmora 后回到这里即可");
}

GlobalKeys::Method HoldShortcutCenter::keysMethod() const
{
    accessRevision_.get();
    return keys_.method();
}

std::string HoldShortcutCenter::methodText() const
{
    accessRevision_.get();
    switch (keys_.method()) {
    case GlobalKeys::Method::displayServer:
        return localized("按键由 X 服务器读取");
    case GlobalKeys::Method::shortcutPortal:
        return localized("按键由桌面的快捷键服务读取；桌面请你确认时，请允许这个快捷键");
    case GlobalKeys::Method::inputDevices:
        return localized("按键直接从 /dev/input 下的键盘读取，同时也会送到当前窗口");
    case GlobalKeys::Method::none:
        break;
    }
    return localized("这个桌面无法读取全局按键");
}

GlobalKeys::Obstacle HoldShortcutCenter::keysObstacle() const
{
    accessRevision_.get();
    return keys_.obstacle();
}

std::optional<std::string> HoldShortcutCenter::obstacleText() const
{
    accessRevision_.get();
    switch (keys_.obstacle()) {
    case GlobalKeys::Obstacle::keyboardsUnreadable:
        return permissionText();
    case GlobalKeys::Obstacle::noKeyboards:
        return localized("在 /dev/input 下没有找到键盘：接上键盘后回到这里即可");
    case GlobalKeys::Obstacle::bindingRefused:
        return localized("桌面没有允许这个快捷键：换一个按键，或重新启动 Parlaro 后再试");
    case GlobalKeys::Obstacle::serviceGone:
        return localized("桌面的快捷键服务已停止，它恢复后快捷键会自动重新设置");
    case GlobalKeys::Obstacle::loneModifierUnsupported:
        return localized("桌面的快捷键服务只接受组合键：请设置一个组合键，例如 Ctrl+Alt+Space");
    case GlobalKeys::Obstacle::none:
        break;
    }
    return std::nullopt;
}

bool HoldShortcutCenter::conflictsWithSystemShortcut(std::uint32_t keyCode, std::uint32_t modifiers) const
{
    return std::any_of(systemShortcuts_.begin(), systemShortcuts_.end(), [&](const SystemShortcut& entry) {
        return entry.enabled && entry.keyCode == keyCode && entry.modifiers == modifiers;
    });
}

void HoldShortcutCenter::handleHotKey(bool pressed)
{
    if (pressed) {
        if (hotKeyDown_)
            return;
        hotKeyDown_ = true;
        call(onDown);
    } else {
        if (!hotKeyDown_)
            return;
        hotKeyDown_ = false;
        call(onUp);
    }
}

bool HoldShortcutCenter::startModifierTap(HoldShortcut::ModifierKey key)
{
    if (!keys_.listenAccess()) {
        keys_.requestListenAccess();
        return false;
    }
    if (!keys_.startModifierWatch())
        return false;
    tap_ = true;
    tracker_ = ModifierHoldTracker{key, false, false};
    return true;
}

void HoldShortcutCenter::startKeyTap()
{
    if (keyTap_)
        return;
    keyTap_ = keys_.startKeyWatch();
}

void HoldShortcutCenter::stopKeyTap()
{
    if (!keyTap_)
        return;
    keys_.stopKeyWatch();
    keyTap_ = false;
}

void HoldShortcutCenter::handleTapEvent(std::uint32_t type, std::uint16_t keyCode, std::uint64_t flags)
{
    if (type == GlobalKeys::watchDisabledType || type == 0xFFFFFFFF) {
        if (tap_)
            keys_.reenableModifierWatch();
        stopKeyTap();
        // Where key reading itself stopped (a keyboard unplugged mid-hold), a
        // held combination will never see its release either.
        if (hotKeyDown_) {
            hotKeyDown_ = false;
            call(onCancel);
        }
        if (tracker_ && tracker_->isDown) {
            tracker_->isDown = false;
            tracker_->interrupted = false;
            call(onCancel);
        }
        return;
    }
    if (!tracker_)
        return;
    if (type == GlobalKeys::flagsChangedType) {
        switch (tracker_->handle(keyCode, flags)) {
        case ModifierHoldTracker::Change::down:
            startKeyTap();
            call(onDown);
            break;
        case ModifierHoldTracker::Change::up:
            stopKeyTap();
            call(onUp);
            break;
        case ModifierHoldTracker::Change::none:
            if (!tracker_->isDown)
                stopKeyTap();
            break;
        }
        return;
    }
    if (tracker_->isDown && !tracker_->interrupted) {
        tracker_->interrupted = true;
        stopKeyTap();
        call(onCancel);
    } else if (!tracker_->isDown) {
        stopKeyTap();
    }
}

}  // namespace parlaro::ui
