#include "ui/CardBackground.h"

#include "ui/Glow.h"
#include "ui/Palette.h"

#include <QPainter>
#include <QPainterPath>

namespace parlaro::ui {

namespace {
constexpr double cardGlowRadius = 14.0;
}

int cardMargin()
{
    return glowMargin(cardGlowRadius);
}

void cardBackground(QPainter& painter, const QRectF& rect, const QColor& tint, double cornerRadius, double glowStrength)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius, cornerRadius);
    const QRectF body = rect.adjusted(0.5, 0.5, -0.5, -0.5);
    paintShadow(painter, body, cornerRadius, Qt::black, 0.04, 3.0, QPointF(0, 1));
    paintGlow(painter, body, cornerRadius, tint, glowStrength, cardGlowRadius);
    painter.fillPath(shape, Palette::offWhite());
    painter.setPen(QPen(Palette::hairline(), 1));
    painter.drawPath(shape);
    painter.restore();
}

Card::Card(const QColor& tint, double cornerRadius, double glowStrength, QWidget* parent)
    : QWidget(parent), tint_(tint), cornerRadius_(cornerRadius), glowStrength_(glowStrength)
{
    int m = cardMargin();
    setContentsMargins(m, m, m, m);
}

void Card::setTint(const QColor& tint)
{
    if (tint_ == tint)
        return;
    tint_ = tint;
    background_ = QImage();
    update();
}

QRect Card::cardRect() const
{
    int m = cardMargin();
    return rect().adjusted(m, m, -m, -m);
}

void Card::paintEvent(QPaintEvent*)
{
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    if (background_.size() != pixels || background_.devicePixelRatio() != ratio) {
        background_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        background_.setDevicePixelRatio(ratio);
        background_.fill(Qt::transparent);
        QPainter drawing(&background_);
        cardBackground(drawing, cardRect(), tint_, cornerRadius_, glowStrength_);
    }
    QPainter painter(this);
    painter.drawImage(QPointF(0, 0), background_);
}

}  // namespace parlaro::ui
