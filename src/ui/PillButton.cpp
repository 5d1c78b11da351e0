#include "ui/PillButton.h"

#include "ui/Glow.h"
#include "ui/Look.h"
#include "ui/Palette.h"

#include <QPainter>

namespace parlaro::ui {

PillButton::PillButton(const QString& text, QWidget* parent) : QPushButton(text, parent), tint_(Palette::violet())
{
    setFont(Look::font(12, QFont::Medium));
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void PillButton::setTint(const QColor& tint)
{
    if (tint_ == tint)
        return;
    tint_ = tint;
    update();
}

void PillButton::setActive(bool active)
{
    if (active_ == active)
        return;
    active_ = active;
    update();
}

QRect PillButton::capsuleRect() const
{
    int m = glowMargin(glowRadius);
    return rect().adjusted(m, m, -m, -m);
}

QSize PillButton::sizeHint() const
{
    QFontMetrics metrics(font());
    int m = glowMargin(glowRadius);
    return {metrics.horizontalAdvance(text()) + 24 + 2 * m, metrics.height() + 12 + 2 * m};
}

QSize PillButton::minimumSizeHint() const
{
    return sizeHint();
}

bool PillButton::hitButton(const QPoint& pos) const
{
    return capsule(capsuleRect()).contains(QPointF(pos));
}

void PillButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Disabled shows no pressed state.
    painter.setOpacity(!isEnabled() ? 0.4 : isDown() ? 0.7 : 1.0);
    const QRectF body = QRectF(capsuleRect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const auto shape = capsule(body);
    QColor text;
    if (active_) {
        paintGlow(painter, body, body.height() / 2.0, tint_, 0.35, glowRadius);
        painter.fillPath(shape, Palette::withOpacity(tint_, 0.12));
        painter.setPen(QPen(Palette::withOpacity(tint_, 0.5), 1));
        text = Palette::textColor(tint_);
    } else {
        painter.fillPath(shape, Palette::white());
        painter.setPen(QPen(Palette::hairline(), 1));
        text = Palette::withOpacity(Look::primaryText(), 0.85);
    }
    painter.drawPath(shape);
    painter.setPen(text);
    painter.setFont(font());
    painter.drawText(capsuleRect(), Qt::AlignCenter | Qt::TextSingleLine, this->text());
}

}  // namespace parlaro::ui
