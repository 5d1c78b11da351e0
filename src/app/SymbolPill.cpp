#include "app/SymbolPill.h"

#include "ui/Glow.h"
#include "ui/Icons.h"
#include "ui/Look.h"
#include "ui/Palette.h"

#include <QPainter>

namespace parlaro::app {

using namespace ui;

namespace {
constexpr int gap = 5;
}

SymbolPill::SymbolPill(const QString& symbol, const QString& text, QWidget* parent)
    : PillButton(text, parent), symbol_(symbol)
{
    Icons::tag(this, symbol);
}

void SymbolPill::setCompact(bool compact)
{
    if (compact_ == compact)
        return;
    compact_ = compact;
    updateGeometry();
    update();
}

int SymbolPill::fullWidth() const
{
    QSize base = PillButton::sizeHint();
    return text().isEmpty() ? base.height() + 6 : base.width() + symbolSize + gap;
}

int SymbolPill::compactWidth() const
{
    return PillButton::sizeHint().height() + 6;
}

QSize SymbolPill::sizeHint() const
{
    QSize base = PillButton::sizeHint();
    if (!showsTitle())
        return {compactWidth(), base.height()};
    return {fullWidth(), base.height()};
}

void SymbolPill::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(!isEnabled() ? 0.4 : isDown() ? 0.7 : 1.0);
    const QRectF body = QRectF(capsuleRect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const auto shape = capsule(body);
    QColor ink;
    if (isActive()) {
        paintGlow(painter, body, body.height() / 2.0, tint(), 0.35, glowRadius);
        painter.fillPath(shape, Palette::withOpacity(tint(), 0.12));
        painter.setPen(QPen(Palette::withOpacity(tint(), 0.5), 1));
        ink = Palette::textColor(tint());
    } else {
        painter.fillPath(shape, Palette::white());
        painter.setPen(QPen(Palette::hairline(), 1));
        // A lone symbol is the button's meaning: it takes the tint.
        ink = !showsTitle() ? Palette::textColor(tint()) : Palette::withOpacity(Look::primaryText(), 0.85);
    }
    painter.drawPath(shape);

    // Symbol and title centred together, mirrored right to left.
    QFontMetricsF metrics(font());
    double textWidth = !showsTitle() ? 0.0 : metrics.horizontalAdvance(text()) + gap;
    double total = symbolSize + textWidth;
    QRectF inner = capsuleRect();
    double start = inner.center().x() - total / 2.0;
    bool rtl = layoutDirection() == Qt::RightToLeft;
    QRectF symbolRect(rtl ? inner.center().x() + total / 2.0 - symbolSize : start,
                      inner.center().y() - symbolSize / 2.0, symbolSize, symbolSize);
    painter.drawPixmap(symbolRect.topLeft(), Icons::pixmap(symbol_, ink, symbolSize, devicePixelRatioF()));
    if (showsTitle()) {
        QRectF textRect(rtl ? start : start + symbolSize + gap, inner.top(), total - symbolSize - gap, inner.height());
        painter.setPen(ink);
        painter.setFont(font());
        painter.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine, text());
    }
}

}  // namespace parlaro::app
