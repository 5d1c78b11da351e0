#include "ui/LevelMeterBar.h"

#include "ui/Glow.h"
#include "ui/Palette.h"

#include <QLinearGradient>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace parlaro::ui {

LevelMeterBar::LevelMeterBar(const QColor& tint, QWidget* parent) : QWidget(parent), tint_(tint)
{
    setFixedHeight(barHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void LevelMeterBar::setLevel(float level)
{
    if (std::isnan(level))
        level = 0.0f;
    if (level_ == level)
        return;
    level_ = level;
    redraw();
}

void LevelMeterBar::setTint(const QColor& tint)
{
    if (tint_ == tint)
        return;
    tint_ = tint;
    redraw();
}

void LevelMeterBar::redraw()
{
    update();
    if (glowHost_) {
        int m = glowMargin(glowRadius * 1.5);
        QRect place(mapTo(glowHost_, QPoint(0, 0)), size());
        glowHost_->update(place.adjusted(-m, -m, m, m));
    }
}

QRectF LevelMeterBar::fillRect() const
{
    double fraction = std::clamp(static_cast<double>(level_), 0.0, 1.0);
    double w = width() * fraction;
    double x = layoutDirection() == Qt::RightToLeft ? width() - w : 0.0;
    return {x, 0.0, w, static_cast<double>(barHeight)};
}

void LevelMeterBar::paintGlow(QPainter& hostPainter) const
{
    auto fill = fillRect();
    if (fill.width() <= 0.0 || !glowHost_)
        return;
    hostPainter.save();
    hostPainter.translate(mapTo(glowHost_, QPoint(0, 0)));
    ui::paintGlow(hostPainter, fill, fill.height() / 2.0, tint_, level_ * 0.5, glowRadius);
    hostPainter.restore();
}

void LevelMeterBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const auto track = capsule(QRectF(0.5, 0.5, width() - 1.0, barHeight - 1.0));
    painter.fillPath(track, Palette::paleGrey());
    painter.setPen(QPen(Palette::hairline(), 1));
    painter.drawPath(track);
    auto fill = fillRect();
    if (fill.width() <= 0.0)
        return;
    bool rtl = layoutDirection() == Qt::RightToLeft;
    QLinearGradient gradient(rtl ? fill.topRight() : fill.topLeft(), rtl ? fill.topLeft() : fill.topRight());
    gradient.setColorAt(0.0, Palette::withOpacity(tint_, 0.55));
    gradient.setColorAt(1.0, tint_);
    painter.fillPath(capsule(fill), gradient);
}

}  // namespace parlaro::ui
