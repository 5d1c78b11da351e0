#include "ui/SidebarRow.h"

#include "ui/Look.h"
#include "ui/WidgetUpdates.h"
#include "ui/WrappingLabel.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace parlaro::ui {

SidebarRow::SidebarRow(const QString& label, std::optional<QString> detail, QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 9, 12, 9);
    row->setSpacing(8);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->setContentsMargins(0, 0, 0, 0);
    label_ = wrappingLabel(Look::font(12), this);
    label_->setObjectName(QStringLiteral("row.label"));
    detail_ = wrappingLabel(Look::font(10.5), this);
    detail_->setObjectName(QStringLiteral("row.detail"));
    updates::setTextColor(detail_, Look::secondaryText());
    texts->addWidget(label_);
    texts->addWidget(detail_);
    row->addLayout(texts, 1);
    row->addSpacing(6);
    trailing_ = new QHBoxLayout;
    trailing_->setContentsMargins(0, 0, 0, 0);
    trailing_->setSpacing(6);
    row->addLayout(trailing_);
    setLabel(label);
    setDetail(detail);
    alignTextsWithLayout();
}

// A label lays out a paragraph in the direction of its first strong letter,
// so a Latin engine name under an Arabic title would start at the left; the
// row's own direction decides where its texts start instead.
void SidebarRow::alignTextsWithLayout()
{
    const Qt::Alignment start =
        Qt::AlignAbsolute | (layoutDirection() == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft);
    label_->setAlignment(start | Qt::AlignVCenter);
    detail_->setAlignment(start | Qt::AlignVCenter);
}

void SidebarRow::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LayoutDirectionChange)
        alignTextsWithLayout();
    QWidget::changeEvent(event);
}

void SidebarRow::setLabel(const QString& label)
{
    updates::setText(label_, label);
}

void SidebarRow::setDetail(const std::optional<QString>& detail)
{
    updates::setVisible(detail_, detail.has_value());
    updates::setText(detail_, detail.value_or(QString()));
}

void SidebarRow::addTrailing(QWidget* widget)
{
    trailing_->addWidget(widget, 0, Qt::AlignVCenter);
}

}  // namespace parlaro::ui
