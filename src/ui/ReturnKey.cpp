#include "ui/ReturnKey.h"

#include "ui/HoldButton.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>

namespace parlaro::ui::ReturnKey {

namespace {

bool isReturn(const QKeyEvent& key)
{
    return (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter)
        && (key.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

// The focused button the key is for, or null.
QAbstractButton* pressable(QObject* watched)
{
    auto* button = qobject_cast<QAbstractButton*>(watched);
    // The focused one, not one a key ignored below it would pass up to.
    if (!button || button->window()->focusWidget() != button || !button->isEnabled() || !button->isVisible())
        return nullptr;
    if (qobject_cast<HoldButton*>(button) || qobject_cast<QDialog*>(button->window()))
        return nullptr;
    if (auto* push = qobject_cast<QPushButton*>(button); push && (push->autoDefault() || push->isDefault()))
        return nullptr;
    return button;
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
        QAbstractButton* button = pressable(watched);
        if (!button)
            return false;
        // The button's, before any shortcut of its window.
        event->accept();
        if (event->type() == QEvent::KeyPress && !key->isAutoRepeat())
            button->click();
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
