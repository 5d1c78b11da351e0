#pragma once

#include <QWidget>

namespace parlaro::settings {

// Shows or hides a widget. Unlike a plain isHidden() check this also holds
// for a widget that was never shown: such a widget reads as hidden, yet its
// parent would show it unless it is hidden explicitly.
inline void setShown(QWidget* widget, bool visible)
{
    if (widget->isHidden() == visible || !widget->testAttribute(Qt::WA_WState_ExplicitShowHide))
        widget->setVisible(visible);
}

}  // namespace parlaro::settings
