#include "ui/SymbolView.h"

#include "ui/Icons.h"

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

void SymbolView::render()
{
    Icons::tag(this, symbol_);
    setPixmap(Icons::pixmap(symbol_, color_, size_, devicePixelRatioF()));
}

}  // namespace parlaro::ui
