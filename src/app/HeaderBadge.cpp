#include "app/HeaderBadge.h"

#include "app/ElidingLabel.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/StatusDot.h"
#include "ui/WidgetUpdates.h"

#include <QHBoxLayout>

namespace parlaro::app {

HeaderBadge::HeaderBadge(QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    dot_ = new ui::StatusDot(ui::Look::secondaryText(), this);
    label_ = new ElidingLabel(this);
    label_->setFont(ui::Look::font(12));
    ui::updates::setTextColor(label_, ui::Palette::withOpacity(ui::Look::primaryText(), 0.85));
    row->addWidget(dot_, 0, Qt::AlignVCenter);
    row->addWidget(label_, 0, Qt::AlignVCenter);
}

void HeaderBadge::setState(const QColor& dot, const QString& text)
{
    if (dot_->color() != dot)
        dot_->setColor(dot);
    ui::updates::setText(label_, text);
    // Readable in full even when the row cuts it short.
    ui::updates::setToolTip(label_, text);
}

QColor HeaderBadge::dotColor() const
{
    return dot_->color();
}

QString HeaderBadge::text() const
{
    return label_->text();
}

}  // namespace parlaro::app
