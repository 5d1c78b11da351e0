#include "app/HeaderBadge.h"

#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/StatusDot.h"
#include "ui/WidgetUpdates.h"

#include <QHBoxLayout>
#include <QLabel>

#include <algorithm>

namespace parlaro::app {

HeaderBadge::HeaderBadge(QWidget* parent) : QWidget(parent)
{
    row_ = new QHBoxLayout(this);
    row_->setContentsMargins(0, 0, 0, 0);
    row_->setSpacing(6);
    dot_ = new ui::StatusDot(ui::Look::secondaryText(), this);
    label_ = new QLabel(this);
    label_->setTextFormat(Qt::PlainText);
    label_->setFont(ui::Look::font(12));
    ui::updates::setTextColor(label_, ui::Palette::withOpacity(ui::Look::primaryText(), 0.85));
    row_->addWidget(dot_, 0, Qt::AlignVCenter);
    row_->addWidget(label_, 0, Qt::AlignVCenter);
    // Whatever the row gives beyond the badge's width stays behind it.
    row_->addStretch(1);
}

void HeaderBadge::setState(const QColor& dot, const QString& text)
{
    if (dot_->color() != dot)
        dot_->setColor(dot);
    if (label_->text() != text) {
        label_->setText(text);
        updateGeometry();
        syncLabel();
    }
    // The text, whole, for whoever cannot see it on the badge.
    ui::updates::setToolTip(this, text);
    ui::updates::setAccessibleName(this, text);
}

QColor HeaderBadge::dotColor() const
{
    return dot_->color();
}

QString HeaderBadge::text() const
{
    return label_->text();
}

void HeaderBadge::addTrailing(QWidget* part)
{
    row_->insertWidget(row_->count() - 1, part, 0, Qt::AlignVCenter);
    updateGeometry();
}

void HeaderBadge::setCompact(bool compact)
{
    if (compact_ == compact)
        return;
    compact_ = compact;
    updateGeometry();
    syncLabel();
}

bool HeaderBadge::showsText() const
{
    return !compact_ && width() >= fullWidth();
}

int HeaderBadge::trailingWidth() const
{
    int width = 0;
    // The items after the dot and the label, up to the closing stretch.
    for (int index = 2; index + 1 < row_->count(); ++index)
        if (QWidget* part = row_->itemAt(index)->widget(); part && !part->isHidden())
            width += row_->spacing() + part->sizeHint().width();
    return width;
}

int HeaderBadge::compactWidth() const
{
    // The dot goes with the words: a trailing part alone stays.
    const int trailing = trailingWidth();
    return trailing > 0 ? trailing - row_->spacing() : 0;
}

int HeaderBadge::fullWidth() const
{
    return dot_->sizeHint().width() + row_->spacing() + label_->sizeHint().width() + trailingWidth();
}

// Neither hint depends on whether the label is shown at the moment, so
// showing or hiding it never moves the row it sits in.
QSize HeaderBadge::sizeHint() const
{
    return {compact_ ? compactWidth() : fullWidth(), minimumSizeHint().height()};
}

QSize HeaderBadge::minimumSizeHint() const
{
    return {compactWidth(), std::max(dot_->sizeHint().height(), label_->sizeHint().height())};
}

void HeaderBadge::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    syncLabel();
}

void HeaderBadge::syncLabel()
{
    const bool shown = showsText();
    if (label_->isHidden() == shown)
        label_->setVisible(shown);
    // A dot without its words would say a state no one can read.
    if (dot_->isHidden() == shown)
        dot_->setVisible(shown);
}

}  // namespace parlaro::app
