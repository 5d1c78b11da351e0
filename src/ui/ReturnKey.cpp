#include "ui/ReturnKey.h"

#include "ui/HoldButton.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>

namespace parlaro::ui::ReturnKey {

bool isReturn(const QKeyEvent& key)
{
    return (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter)
        && (key.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

namespace {

// The focused control, not one a key ignored below it would pass up to.
bool isFocused(QWidget* widget)
{
    return widget->window()->focusWidget() == widget && widget->isEnabled() && widget->isVisible();
}

// The focused button the key is for, or null.
QAbstractButton* pressable(QObject* watched)
{
    auto* button = qobject_cast<QAbstractButton*>(watched);
    if (!button || !isFocused(button) || qobject_cast<HoldButton*>(button))
        return nullptr;
    if (auto* push = qobject_cast<QPushButton*>(button); push && (push->autoDefault() || push->isDefault()))
        return nullptr;
    return button;
}

// The focused picker the key opens, or null. A picker ignores the key, and
// a dialog would take it for its default button.
QComboBox* openable(QObject* watched)
{
    auto* box = qobject_cast<QComboBox*>(watched);
    if (!box || box->isEditable() || !isFocused(box))
        return nullptr;
    return box;
}

// The combo box whose list this is, or null. The list sits in the box's
// popup frame, whose parent is the box.
QComboBox* listOwner(QObject* watched)
{
    auto* list = qobject_cast<QAbstractItemView*>(watched);
    QWidget* frame = list ? list->parentWidget() : nullptr;
    auto* box = frame ? qobject_cast<QComboBox*>(frame->parentWidget()) : nullptr;
    return box && box->view() == list ? box : nullptr;
}

class Presser : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (!isReturn(*key))
            return false;
        // A list picks its item on the key's first override and closes; the
        // same key can be offered to it again once it is closed, which would
        // pick a second time and tell a refused pick twice.
        if (event->type() == QEvent::ShortcutOverride) {
            if (QComboBox* owner = listOwner(watched); owner && !owner->view()->isVisible()) {
                event->accept();
                return true;
            }
        }
        QAbstractButton* button = pressable(watched);
        QComboBox* box = button ? nullptr : openable(watched);
        if (!button && !box)
            return false;
        // The control's, before any shortcut of its window.
        event->accept();
        if (event->type() != QEvent::KeyPress || key->isAutoRepeat())
            return true;
        if (button)
            button->click();
        else
            box->showPopup();
        return true;
    }
};

QPointer<Presser> presser;

}  // namespace

void install()
{
    if (presser)
        return;
    presser = new Presser;
    presser->setParent(qApp);
    qApp->installEventFilter(presser);
}

}  // namespace parlaro::ui::ReturnKey
