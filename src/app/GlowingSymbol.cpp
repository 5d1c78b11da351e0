#include "app/GlowingSymbol.h"

#include "ui/Glow.h"
#include "ui/Icons.h"
#include "ui/Palette.h"

#include <QPainter>

namespace parlaro::app {

GlowingSymbol::GlowingSymbol(const QString& symbol, const QColor& color, double opacity, int size, double glowStrength,
                             double glowRadius, QWidget* parent)
    : QWidget(parent), symbol_(symbol), color_(color), opacity_(opacity), size_(size), glowStrength_(glowStrength),
      glowRadius_(glowRadius)
{
    ui::Icons::tag(this, symbol);
    int room = ui::glowMargin(glowRadius);
    setFixedSize(size + 2 * room, size + 2 * room);
}

void GlowingSymbol::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QRectF body = QRectF(rect()).adjusted(width() / 2.0 - size_ / 2.0, height() / 2.0 - size_ / 2.0,
                                          -(width() / 2.0 - size_ / 2.0), -(height() / 2.0 - size_ / 2.0));
    ui::paintGlow(painter, body.adjusted(4, 4, -4, -4), size_ / 4.0, color_, glowStrength_, glowRadius_);
    painter.drawPixmap(
        body.topLeft(),
        ui::Icons::pixmap(symbol_, ui::Palette::withOpacity(color_, opacity_), size_, devicePixelRatioF()));
}

}  // namespace parlaro::app
