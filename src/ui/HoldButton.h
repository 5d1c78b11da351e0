#pragma once

#include "runtime/Observable.h"

#include <QAbstractButton>
#include <QTimer>

#include <functional>
#include <optional>

namespace parlaro::ui {

class AppActivity;

// Turns mouse and keyboard into holds: every hold gives exactly one onDown,
// then exactly one onUp or onCancel, whichever way it ends.
//
// A hold starts with a left press on the button, or Space (not a repeat)
// while it has focus. While it lasts an application-wide filter sees every
// event first: the left release ends a mouse hold wherever it happens (and
// no other widget gets it), the Space release ends a keyboard hold, and Esc
// cancels either (claimed at shortcut time, so no Esc shortcut fires).
// Auto-repeated Space presses and releases (X11 fakes release/press pairs
// while a key is held) are swallowed, and so is the rest of a Space press
// whose hold was cancelled, up to its release: a held key never reaches
// another control. Focus loss cancels a keyboard hold; hiding, destroying
// and the application going inactive cancel any hold (a mouse hold not
// while the program's own shortcut is held: see setOwnShortcutHeld).
//
// A button that may not start holds stays enabled and keeps the focus: a
// disabled widget hands the focus on, and the Space still held would then
// press whatever took it. It refuses holds instead, and says it is
// unavailable to assistive technology. A refused Space press is told to
// onRefusedPress, and the rest of it, up to its release, is swallowed like
// that of a cancelled hold: its repeats start no hold once holds are
// allowed again. The button draws nothing: the control behind it does.
//
// The release of a mouse hold is taken where the window gets it, before
// anything above the button (a sheet keeping input from the window) can
// drop it. A release in another window, which comes only after the hold's
// own was lost, ends the hold but stays that window's: a hold whose
// release never came must not take the next click.
class HoldButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit HoldButton(QWidget* parent = nullptr);
    ~HoldButton() override;

    std::function<void()> onDown;
    std::function<void()> onUp;
    std::function<void()> onCancel;
    std::function<void()> onRefusedPress;

    // Where deactivation is heard; the running application's by default.
    void setAppActivity(AppActivity* activity) { activity_ = activity; }
    // Whether the program's own global shortcut is held. On X11 its grab
    // takes the keyboard's focus from the window, which the toolkit reads as
    // the application going inactive: a mouse hold outlasts that and ends
    // with its own release, which the pointer's grab still brings here.
    void setOwnShortcutHeld(std::function<bool()> held) { ownShortcutHeld_ = std::move(held); }

    bool isHolding() const { return holding_; }

    // Whether a new hold may start; a hold in progress ends as it would.
    void setHoldEnabled(bool enabled);
    bool isHoldEnabled() const { return holdEnabled_; }

    // Ends a hold in progress (onCancel or onUp); nothing without a hold.
    void endHold(bool cancelled);

    // How long the release of a held Space waits for a press of the same
    // instant, which makes it a repeat; none (the release ends the hold at
    // once) where the toolkit tells repeats apart itself.
    void setRepeatGrace(std::optional<int> milliseconds) { repeatGrace_ = milliseconds; }

    // What Enter on the button says: a hold is no click, and Enter on a
    // focused control is where keyboard users start.
    static QString howToHold();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void beginHold(bool usingKeyboard);
    void watchEvents(bool watch);
    void releaseSpace(const QKeyEvent& release);
    // The end of a Space press that is no hold's.
    void forgetSpace();
    // Whether a Space press is the second half of a repeat whose release
    // is still waiting; it then is, and the hold goes on.
    bool repeatsPendingRelease(const QKeyEvent& press);

    bool holding_ = false;
    bool usingKeyboard_ = false;
    bool filtering_ = false;
    bool holdEnabled_ = true;
    // A keyboard hold ended while its Space is still down.
    bool spaceStillDown_ = false;
    bool destroying_ = false;
    std::optional<int> repeatGrace_;
    // The instant of a Space release that waits for its grace.
    std::optional<quint64> pendingRelease_;
    QTimer releaseTimer_;
    AppActivity* activity_ = nullptr;
    std::function<bool()> ownShortcutHeld_;
    rt::Subscription resignActive_;
};

}  // namespace parlaro::ui
