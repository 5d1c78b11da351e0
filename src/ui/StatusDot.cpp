#include "ui/StatusDot.h"

#include "ui/Glow.h"
#include "ui/Palette.h"

#include <QPainter>
#include <QRadialGradient>

namespace parlaro::ui {

StatusDot::StatusDot(const QColor& color, QWidget* parent) : QWidget(parent), color_(color)
{
    setFixedSize(sizeHint());
}

QSize StatusDot::sizeHint() const
{
    int side = diameter + 2 * glowMargin(glowRadius);
    return {side, side};
}

void StatusDot::setColor(const QColor& color)
{
    if (color_ == color)
        return;
    color_ = color;
    update();
}

void StatusDot::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath dot;
    QRectF circle(QPointF(width() / 2.0 - diameter / 2.0, height() / 2.0 - diameter / 2.0), QSizeF(diameter, diameter));
    dot.addEllipse(circle);
    paintGlow(painter, dot, color_, 0.8, glowRadius);
    painter.fillPath(dot, color_);
}

Hairline::Hairline(bool vertical, QWidget* parent) : QWidget(parent)
{
    if (vertical) {
        setFixedWidth(1);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    } else {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
}

void Hairline::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Palette::hairline());
}

AppBackground::AppBackground(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_StyledBackground, false);
}

void AppBackground::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Palette::white());
    QRadialGradient wash(QPointF(width() / 2.0, 0.0), 620.0);
    wash.setColorAt(0.0, Palette::withOpacity(Palette::violet(), 0.04));
    wash.setColorAt(1.0, Qt::transparent);
    painter.fillRect(rect(), wash);
}

}  // namespace parlaro::ui
