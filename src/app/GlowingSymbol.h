#pragma once

#include <QColor>
#include <QWidget>

namespace parlaro::app {

// A symbol with the shared glow around it, keeping room for the glow
// inside its own rectangle.
class GlowingSymbol : public QWidget {
    Q_OBJECT
public:
    GlowingSymbol(const QString& symbol, const QColor& color, double opacity, int size, double glowStrength,
                  double glowRadius, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
    QColor color_;
    double opacity_;
    int size_;
    double glowStrength_;
    double glowRadius_;
};

}  // namespace parlaro::app
