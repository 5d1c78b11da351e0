#include "app/QuitShortcut.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QKeySequence>

namespace parlaro::app {

QuitShortcut::QuitShortcut(QAction* quit, QObject* parent) : QObject(parent), quit_(quit)
{
    QCoreApplication::instance()->installEventFilter(this);
}

QuitShortcut::~QuitShortcut()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

bool QuitShortcut::matches(const QKeyEvent& key) const
{
    if (!quit_ || !quit_->isEnabled())
        return false;
    const QKeySequence wanted = quit_->shortcut();
    if (wanted.count() != 1)
        return false;
    constexpr auto relevant = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    const QKeyCombination pressed(key.modifiers() & relevant, Qt::Key(key.key()));
    return pressed == wanted[0];
}

bool QuitShortcut::eventFilter(QObject* watched, QEvent* event)
{
    // Claiming the override keeps the window's own copy of the shortcut from
    // firing as well; the key press that follows quits, wherever focus is.
    if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (watched->isWidgetType() && matches(*key)) {
            if (event->type() == QEvent::KeyPress && !key->isAutoRepeat())
                quit_->trigger();
            event->accept();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace parlaro::app
