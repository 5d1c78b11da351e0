#pragma once

#include "ui/PillButton.h"

namespace parlaro::app {

// A pill with a symbol before its title (or the symbol alone), the symbol
// in the title's colour. Short of room it may show its symbol alone while
// keeping its title, which the tooltip and the accessible name still carry.
class SymbolPill : public ui::PillButton {
    Q_OBJECT
public:
    explicit SymbolPill(const QString& symbol, const QString& text = {}, QWidget* parent = nullptr);

    QString symbol() const { return symbol_; }
    // Draws the symbol alone; the title stays the button's text.
    void setCompact(bool compact);
    bool isCompact() const { return compact_; }
    // The width with the title drawn, whatever the pill shows now.
    int fullWidth() const;
    int compactWidth() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    static constexpr int symbolSize = 13;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool showsTitle() const { return !compact_ && !text().isEmpty(); }

    QString symbol_;
    bool compact_ = false;
};

}  // namespace parlaro::app
