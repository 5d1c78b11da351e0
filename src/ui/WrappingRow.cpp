#include "ui/WrappingRow.h"

#include <QEvent>
#include <QStyle>

#include <algorithm>

namespace parlaro::ui {

namespace {

int naturalWidth(const QWidget* widget)
{
    return std::min(std::max({widget->sizeHint().width(), widget->minimumSizeHint().width(), widget->minimumWidth()}),
                    widget->maximumWidth());
}

int naturalHeight(const QWidget* widget, int width)
{
    return widget->hasHeightForWidth() ? widget->heightForWidth(width) : widget->sizeHint().height();
}

}  // namespace

WrappingRow::WrappingRow(QWidget* parent) : QWidget(parent)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void WrappingRow::addWidget(QWidget* widget, Qt::Alignment inColumn, bool fills)
{
    widget->setParent(this);
    parts_.push_back({widget, inColumn, fills});
    updateGeometry();
}

void WrappingRow::addStretch()
{
    parts_.push_back({nullptr, {}});
}

void WrappingRow::setMargins(QMargins margins)
{
    margins_ = margins;
    updateGeometry();
}

void WrappingRow::setSpacing(int spacing)
{
    spacing_ = spacing;
    updateGeometry();
}

int WrappingRow::rowWidth() const
{
    int needed = margins_.left() + margins_.right();
    int shown = 0;
    for (const Part& part : parts_)
        if (part.widget && !part.widget->isHidden()) {
            needed += naturalWidth(part.widget);
            ++shown;
        }
    return needed + std::max(0, shown - 1) * spacing_;
}

bool WrappingRow::fits(int width) const
{
    return rowWidth() <= width;
}

int WrappingRow::spare(int width) const
{
    return std::max(0, width - rowWidth());
}

QSize WrappingRow::sizeHint() const
{
    return {rowWidth(), heightForWidth(rowWidth())};
}

QSize WrappingRow::minimumSizeHint() const
{
    int widest = 0;
    for (const Part& part : parts_)
        if (part.widget && !part.widget->isHidden())
            widest = std::max({widest, part.widget->minimumSizeHint().width(), part.widget->minimumWidth()});
    const int width = widest + margins_.left() + margins_.right();
    return {width, heightForWidth(width)};
}

int WrappingRow::heightForWidth(int width) const
{
    const bool column = !fits(width);
    const int inner = width - margins_.left() - margins_.right();
    int height = 0;
    int shown = 0;
    for (const Part& part : parts_) {
        if (!part.widget || part.widget->isHidden())
            continue;
        const int wide = column ? inner : naturalWidth(part.widget) + (part.fills ? spare(width) : 0);
        const int tall = naturalHeight(part.widget, wide);
        height = column ? height + tall : std::max(height, tall);
        ++shown;
    }
    if (column)
        height += std::max(0, shown - 1) * spacing_;
    return height + margins_.top() + margins_.bottom();
}

void WrappingRow::place()
{
    const QRect inner = rect().marginsRemoved(margins_);
    const bool column = !fits(width());
    int at = column ? inner.top() : inner.left();
    // What the row leaves over goes to its stretch, or to the control that
    // fills.
    const int left = spare(width());
    for (const Part& part : parts_) {
        if (!part.widget) {
            if (!column)
                at += left;
            continue;
        }
        if (part.widget->isHidden())
            continue;
        QRect place;
        if (column) {
            const int wide = part.inColumn & Qt::AlignHorizontal_Mask
                ? std::min(inner.width(), naturalWidth(part.widget))
                : inner.width();
            place = QRect(inner.left(), at, wide, naturalHeight(part.widget, wide));
            at += place.height() + spacing_;
        } else {
            const int wide = naturalWidth(part.widget) + (part.fills ? left : 0);
            place = QRect(at, inner.top(), wide, inner.height());
            at += wide + spacing_;
        }
        part.widget->setGeometry(QStyle::visualRect(layoutDirection(), rect(), place));
    }
}

bool WrappingRow::event(QEvent* event)
{
    // A control's new text or visibility: measured and placed anew.
    if (event->type() == QEvent::LayoutRequest) {
        updateGeometry();
        place();
    }
    if (event->type() == QEvent::LayoutDirectionChange)
        place();
    return QWidget::event(event);
}

void WrappingRow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    place();
}

}  // namespace parlaro::ui
