#include "ui/SymbolView.h"

#include "ui/Icons.h"

#include <QEvent>

namespace parlaro::ui {

SymbolView::SymbolView(const QString& symbol, const QColor& color, int size, QWidget* parent)
    : QLabel(parent), symbol_(symbol), color_(color), size_(size)
{
    setAlignment(Qt::AlignCenter);
    setFixedSize(size, size);
    render();
}

void SymbolView::setSymbol(const QString& symbol, const QColor& color, int size)
{
    if (symbol == symbol_ && color == color_ && size == size_)
        return;
    symbol_ = symbol;
    color_ = color;
    if (size != size_) {
        size_ = size;
        setFixedSize(size, size);
    }
    render();
}

void SymbolView::setSymbol(const QString& symbol)
{
    setSymbol(symbol, color_, size_);
}

void SymbolView::setColor(const QColor& color)
{
    setSymbol(symbol_, color, size_);
}

namespace {

bool followsReading(const QString& symbol)
{
    const QStringList parts = symbol.split(QLatin1Char('.'));
    return parts.contains(QStringLiteral("forward")) || parts.contains(QStringLiteral("backward"));
}

}  // namespace

void SymbolView::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::LayoutDirectionChange && followsReading(symbol_))
        render();
}

void SymbolView::render()
{
    Icons::tag(this, symbol_);
    QPixmap drawn = Icons::pixmap(symbol_, color_, size_, devicePixelRatioF());
    if (layoutDirection() == Qt::RightToLeft && followsReading(symbol_) && !drawn.isNull()) {
        QImage mirrored = drawn.toImage().mirrored(true, false);
        drawn = QPixmap::fromImage(mirrored);
    }
    setPixmap(drawn);
}

}  // namespace parlaro::ui
