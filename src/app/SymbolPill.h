#pragma once

#include "ui/PillButton.h"

namespace parlaro::app {

// A pill with a symbol before its title (or the symbol alone), the symbol
// in the title's colour.
class SymbolPill : public ui::PillButton {
    Q_OBJECT
public:
    explicit SymbolPill(const QString& symbol, const QString& text = {}, QWidget* parent = nullptr);

    QString symbol() const { return symbol_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    static constexpr int symbolSize = 13;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
};

}  // namespace parlaro::app
