#include "ui/FocusReturn.h"

#include <QApplication>

namespace parlaro::ui {

void FocusReturn::setEnabled(QWidget* part, bool enabled)
{
    if (part->isEnabled() == enabled)
        return;
    if (!enabled) {
        QWidget* focus = QApplication::focusWidget();
        const bool inside = focus && (focus == part || part->isAncestorOf(focus));
        part->setEnabled(false);
        if (!inside)
            return;
        held_ = focus;
        // Where the disabling sent it is no choice of the user's.
        if (QWidget* movedTo = QApplication::focusWidget(); movedTo && movedTo->window() == part->window())
            movedTo->clearFocus();
        return;
    }
    part->setEnabled(true);
    QPointer<QWidget> held = std::exchange(held_, nullptr);
    if (!held || !held->isVisible() || !held->isEnabled())
        return;
    QWidget* now = QApplication::focusWidget();
    if (!now || now == held->window())
        held->setFocus(Qt::OtherFocusReason);
}

}  // namespace parlaro::ui
