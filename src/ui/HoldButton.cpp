#include "ui/HoldButton.h"

#include "ui/AppActivity.h"
#include "ui/ReturnKey.h"

#include "speech/Localization.h"
#include "ui/Text.h"

#include <QAccessible>
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QToolTip>
#include <QWindow>

namespace parlaro::ui {

// X11 repeats a held key as release and press pairs that share one time
// stamp, and the toolkit marks only some of those pairs as repeats: a held
// Space would end the hold at its first repeat and start another. A
// release there is final only once no press of its instant followed it;
// the pair comes from the server together, so a few milliseconds tell.
constexpr int x11RepeatGraceMs = 20;

HoldButton::HoldButton(QWidget* parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setText(QString());
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        repeatGrace_ = x11RepeatGraceMs;
    releaseTimer_.setSingleShot(true);
    connect(&releaseTimer_, &QTimer::timeout, this, [this] {
        pendingRelease_.reset();
        if (spaceStillDown_)
            forgetSpace();
        else
            endHold(false);
    });
}

void HoldButton::releaseSpace(const QKeyEvent& release)
{
    if (release.isAutoRepeat())
        return;
    if (!repeatGrace_) {
        if (spaceStillDown_)
            forgetSpace();
        else
            endHold(false);
        return;
    }
    pendingRelease_ = release.timestamp();
    releaseTimer_.start(*repeatGrace_);
}

void HoldButton::forgetSpace()
{
    spaceStillDown_ = false;
    pendingRelease_.reset();
    releaseTimer_.stop();
    watchEvents(holding_);
}

bool HoldButton::repeatsPendingRelease(const QKeyEvent& press)
{
    if (!pendingRelease_ || press.timestamp() != *pendingRelease_)
        return false;
    pendingRelease_.reset();
    releaseTimer_.stop();
    return true;
}

HoldButton::~HoldButton()
{
    destroying_ = true;
    endHold(true);
    watchEvents(false);
}

QString HoldButton::howToHold()
{
    return q(localized("请按住空格键说话，说完再松开"));
}

bool HoldButton::event(QEvent* event)
{
    // Enter is the button's, before any Return shortcut of its window.
    if (event->type() == QEvent::ShortcutOverride && ReturnKey::isReturn(*static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return QAbstractButton::event(event);
}

void HoldButton::paintEvent(QPaintEvent*)
{
}

void HoldButton::setHoldEnabled(bool enabled)
{
    if (holdEnabled_ == enabled)
        return;
    holdEnabled_ = enabled;
    QAccessible::State changed;
    changed.disabled = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
}

void HoldButton::watchEvents(bool watch)
{
    if (filtering_ == watch)
        return;
    filtering_ = watch;
    if (watch)
        qApp->installEventFilter(this);
    else
        qApp->removeEventFilter(this);
}

void HoldButton::beginHold(bool usingKeyboard)
{
    if (!isEnabled() || !holdEnabled_ || holding_)
        return;
    // A release still in its grace belonged to a press that is over.
    pendingRelease_.reset();
    releaseTimer_.stop();
    // Focus, so that Space and Esc reach the button and focus loss is seen.
    if (window())
        setFocus(usingKeyboard ? Qt::OtherFocusReason : Qt::MouseFocusReason);
    holding_ = true;
    usingKeyboard_ = usingKeyboard;
    spaceStillDown_ = false;
    setDown(true);
    watchEvents(true);
    auto& activity = activity_ ? *activity_ : AppActivity::application();
    resignActive_ = activity.subscribeResignActive([this] {
        if (!usingKeyboard_ && ownShortcutHeld_ && ownShortcutHeld_())
            return;
        endHold(true);
    });
    if (onDown)
        onDown();
}

void HoldButton::endHold(bool cancelled)
{
    // A release that waited out its grace was the user's: what ends the
    // hold meanwhile sends it as that release would.
    if (pendingRelease_ && !destroying_)
        cancelled = false;
    pendingRelease_.reset();
    releaseTimer_.stop();
    if (!holding_)
        return;
    holding_ = false;
    setDown(false);
    // Cancelled with its key still down: the rest of that press is ours.
    spaceStillDown_ = cancelled && usingKeyboard_ && !destroying_;
    watchEvents(spaceStillDown_);
    resignActive_.reset();
    // The callback may replace the callbacks or hide the button: call a copy.
    auto callback = cancelled ? onCancel : onUp;
    if (callback)
        callback();
}

void HoldButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        beginHold(false);
    event->accept();
}

void HoldButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        endHold(false);
    event->accept();
}

void HoldButton::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
}

void HoldButton::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Space:
        if (!event->isAutoRepeat() && !holding_ && !holdEnabled_) {
            // The rest of this press is nobody's, even once holds are
            // allowed again before its release.
            spaceStillDown_ = true;
            watchEvents(true);
            if (auto callback = onRefusedPress)
                callback();
        } else if (!event->isAutoRepeat()) {
            beginHold(true);
        }
        event->accept();
        return;
    case Qt::Key_Escape:
        if (holding_) {
            endHold(true);
            event->accept();
            return;
        }
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!ReturnKey::isReturn(*event))
            break;
        // Said where the user is; a screen reader reads the tip as it shows.
        // Where no hold can start, Space would not help either: the owner
        // says why, as for a refused press.
        if (!event->isAutoRepeat() && !holding_) {
            if (holdEnabled_)
                QToolTip::showText(mapToGlobal(QPoint(width() / 2, height())), howToHold(), this);
            else if (auto callback = onRefusedPress)
                callback();
        }
        event->accept();
        return;
    default:
        break;
    }
    QAbstractButton::keyPressEvent(event);
}

void HoldButton::keyReleaseEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space) {
        // Only a keyboard hold ends with Space: a mouse hold begun while
        // the key was down outlasts its release.
        if (holding_ && usingKeyboard_)
            releaseSpace(*event);
        event->accept();
        return;
    }
    QAbstractButton::keyReleaseEvent(event);
}

void HoldButton::focusOutEvent(QFocusEvent* event)
{
    // Being disabled takes focus too, but a hold that started still ends
    // with its release.
    if (holding_ && usingKeyboard_ && isEnabled())
        endHold(true);
    QAbstractButton::focusOutEvent(event);
}

void HoldButton::hideEvent(QHideEvent* event)
{
    endHold(true);
    QAbstractButton::hideEvent(event);
}

bool HoldButton::eventFilter(QObject* watched, QEvent* event)
{
    const bool leftRelease =
        event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
    // Widgets only: the window's own bookkeeping of the pressed button must
    // still see the release, or its implicit grab would outlive the hold.
    // The window hears the release first, and what keeps input from the
    // window (a sheet over it) may drop it there: the hold ends there, and
    // the window then hands the release to this button.
    if (!watched->isWidgetType()) {
        if (holding_ && !usingKeyboard_ && leftRelease && window() && watched == window()->windowHandle())
            endHold(false);
        return QAbstractButton::eventFilter(watched, event);
    }
    if (spaceStillDown_ && (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Space)
            return QAbstractButton::eventFilter(watched, event);
        if (event->type() == QEvent::KeyRelease) {
            releaseSpace(*key);
            return true;
        }
        if (key->isAutoRepeat() || repeatsPendingRelease(*key))
            return true;
        // A fresh press is a new one, for whoever has the focus.
        forgetSpace();
        return false;
    }
    if (!holding_)
        return QAbstractButton::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ShortcutOverride: {
        // Claiming Esc here keeps every Esc shortcut from firing; the key
        // press that follows cancels the hold.
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape) {
            event->accept();
            return true;
        }
        break;
    }
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape) {
            endHold(true);
            return true;
        }
        if (key->key() == Qt::Key_Space && usingKeyboard_ && (key->isAutoRepeat() || repeatsPendingRelease(*key)))
            return true;
        break;
    }
    case QEvent::KeyRelease: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (usingKeyboard_ && key->key() == Qt::Key_Space) {
            releaseSpace(*key);
            return true;
        }
        break;
    }
    case QEvent::MouseButtonRelease:
        if (!usingKeyboard_ && leftRelease) {
            // Another window's release ends a click that began there after
            // this hold's own release was lost: it is that click's.
            const bool elsewhere = static_cast<QWidget*>(watched)->window() != window();
            endHold(false);
            return !elsewhere;
        }
        break;
    default:
        break;
    }
    return QAbstractButton::eventFilter(watched, event);
}

}  // namespace parlaro::ui
