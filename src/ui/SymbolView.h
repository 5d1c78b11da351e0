#pragma once

#include <QColor>
#include <QLabel>

namespace parlaro::ui {

// One of our symbols in a colour at a size, as a widget. Carries the
// symbol's name in its "symbol" property. Setting what it already shows
// changes nothing, so a refresh may set it every time. A symbol that points
// the way text reads ("arrow.forward", "chevron.backward") is mirrored in a
// right-to-left layout.
class SymbolView : public QLabel {
    Q_OBJECT
public:
    explicit SymbolView(const QString& symbol = {}, const QColor& color = Qt::black, int size = 14,
                        QWidget* parent = nullptr);

    void setSymbol(const QString& symbol, const QColor& color, int size);
    void setSymbol(const QString& symbol);
    void setColor(const QColor& color);

    QString symbol() const { return symbol_; }
    QColor color() const { return color_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void render();

    QString symbol_;
    QColor color_;
    int size_ = 14;
};

}  // namespace parlaro::ui
