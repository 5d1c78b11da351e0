#include "app/CardTag.h"

#include "ui/CardBackground.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/WidgetUpdates.h"

#include <QBoxLayout>
#include <QPainter>

namespace parlaro::app {

CardTag::CardTag(bool capsule, QWidget* parent) : QLabel(parent), capsule_(capsule)
{
    setFont(ui::Look::font(10, QFont::DemiBold));
    if (capsule_)
        setContentsMargins(6, 2, 6, 2);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void CardTag::setTint(const QColor& tint)
{
    if (tint_ == tint)
        return;
    tint_ = tint;
    ui::updates::setTextColor(this, ui::Palette::textColor(tint));
    update();
}

void CardTag::paintEvent(QPaintEvent* event)
{
    if (capsule_) {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(ui::Palette::withOpacity(tint_, 0.12));
        QRectF r = rect();
        painter.drawRoundedRect(r, r.height() / 2, r.height() / 2);
    }
    QLabel::paintEvent(event);
}

CardColumn makeCardColumn(ui::Card& card)
{
    card.setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    auto* column = new QVBoxLayout(&card);
    int m = ui::cardMargin() + 14;
    column->setContentsMargins(m, m, m, m);
    column->setSpacing(6);
    auto* header = new QHBoxLayout();
    header->setContentsMargins(0, 0, 0, 0);
    return {column, header};
}

}  // namespace parlaro::app
