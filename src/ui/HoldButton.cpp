#include "ui/HoldButton.h"

#include "ui/AppActivity.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

namespace parlaro::ui {

HoldButton::HoldButton(QWidget* parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setText(QString());
}

HoldButton::~HoldButton()
{
    destroying_ = true;
    endHold(true);
    watchEvents(false);
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
    // Focus, so that Space and Esc reach the button and focus loss is seen.
    if (window())
        setFocus(usingKeyboard ? Qt::OtherFocusReason : Qt::MouseFocusReason);
    holding_ = true;
    usingKeyboard_ = usingKeyboard;
    spaceStillDown_ = false;
    setDown(true);
    watchEvents(true);
    auto& activity = activity_ ? *activity_ : AppActivity::application();
    resignActive_ = activity.subscribeResignActive([this] { endHold(true); });
    if (onDown)
        onDown();
}

void HoldButton::endHold(bool cancelled)
{
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
        if (!event->isAutoRepeat())
            beginHold(true);
        event->accept();
        return;
    case Qt::Key_Escape:
        if (holding_) {
            endHold(true);
            event->accept();
            return;
        }
        break;
    default:
        break;
    }
    QAbstractButton::keyPressEvent(event);
}

void HoldButton::keyReleaseEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space) {
        if (!event->isAutoRepeat())
            endHold(false);
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
    // Widgets only: the window's own bookkeeping of the pressed button must
    // still see the release, or its implicit grab would outlive the hold.
    if (!watched->isWidgetType())
        return QAbstractButton::eventFilter(watched, event);
    if (spaceStillDown_ && (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Space)
            return QAbstractButton::eventFilter(watched, event);
        // A fresh press is a new one, for whoever has the focus.
        const bool fresh = event->type() == QEvent::KeyPress && !key->isAutoRepeat();
        if (fresh || (event->type() == QEvent::KeyRelease && !key->isAutoRepeat())) {
            spaceStillDown_ = false;
            watchEvents(holding_);
        }
        return !fresh;
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
        if (key->key() == Qt::Key_Space && key->isAutoRepeat() && usingKeyboard_)
            return true;
        break;
    }
    case QEvent::KeyRelease: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (usingKeyboard_ && key->key() == Qt::Key_Space) {
            if (!key->isAutoRepeat())
                endHold(false);
            return true;
        }
        break;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!usingKeyboard_ && mouse->button() == Qt::LeftButton) {
            endHold(false);
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QAbstractButton::eventFilter(watched, event);
}

}  // namespace parlaro::ui
