#pragma once

#include <QAbstractButton>
#include <QAccessible>
#include <QLabel>
#include <QString>
#include <QWidget>

// Setters that leave a widget alone when it already shows the value, so a
// refresh never resets a cursor, a selection or a hover, nor relays out.
namespace parlaro::ui::updates {

inline void setText(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}
inline void setText(QAbstractButton* button, const QString& text)
{
    if (button->text() != text)
        button->setText(text);
}
// A widget with no description of its own is described by its tooltip,
// and a screen reader keeps the description it last read until it is told
// of a change: untold, it reads an earlier pick's state beside a new pick.
inline void setToolTip(QWidget* widget, const QString& text)
{
    if (widget->toolTip() == text)
        return;
    widget->setToolTip(text);
    if (widget->accessibleDescription().isEmpty()) {
        QAccessibleEvent changed(widget, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&changed);
    }
}
inline void setAccessibleName(QWidget* widget, const QString& text)
{
    if (widget->accessibleName() != text)
        widget->setAccessibleName(text);
}
inline void setAccessibleDescription(QWidget* widget, const QString& text)
{
    if (widget->accessibleDescription() != text)
        widget->setAccessibleDescription(text);
}
inline void setEnabled(QWidget* widget, bool enabled)
{
    if (widget->isEnabled() != enabled)
        widget->setEnabled(enabled);
}
inline void setVisible(QWidget* widget, bool visible)
{
    if (widget->isHidden() == visible)
        widget->setVisible(visible);
}
// The label's text colour (its palette's WindowText).
inline void setTextColor(QLabel* label, const QColor& color)
{
    if (label->palette().color(QPalette::WindowText) == color)
        return;
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}
inline void setChecked(QAbstractButton* button, bool checked)
{
    if (button->isChecked() != checked)
        button->setChecked(checked);
}

}  // namespace parlaro::ui::updates
