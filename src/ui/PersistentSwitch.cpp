#include "ui/PersistentSwitch.h"

#include "ui/Glow.h"
#include "ui/Palette.h"

#include <QPainter>

namespace parlaro::ui {

PersistentSwitch::PersistentSwitch(QWidget* parent) : QCheckBox(parent), tint_(Palette::violet())
{
    setFixedSize(40, 20);
    setCursor(Qt::PointingHandCursor);
}

void PersistentSwitch::setTint(const QColor& tint)
{
    if (tint_ == tint)
        return;
    tint_ = tint;
    update();
}

QRect PersistentSwitch::knobRect() const
{
    // On sits at the trailing end, off at the leading end.
    bool right = isChecked() != (layoutDirection() == Qt::RightToLeft);
    return {right ? width() - 18 : 2, 2, 16, 16};
}

bool PersistentSwitch::hitButton(const QPoint& pos) const
{
    return rect().contains(pos);
}

void PersistentSwitch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isEnabled() ? 1.0 : 0.45);
    painter.fillPath(capsule(QRectF(0, 0, 40, 20)), isChecked() ? tint_ : QColor(0, 0, 0, 41));
    const auto knob = capsule(QRectF(knobRect()));
    paintShadow(painter, knob, Qt::black, 0.14, 1.0, QPointF(0, 1));
    painter.fillPath(knob, Palette::white());
}

}  // namespace parlaro::ui
