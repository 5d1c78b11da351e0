#pragma once

#include <QColor>
#include <QRectF>
#include <QWidget>

class QPainter;

namespace parlaro::ui {

// A card: off-white rounded rectangle with a hairline, a faint drop shadow
// and the tint's glow (radius 14 whatever the corner radius).
void cardBackground(QPainter& painter, const QRectF& rect, const QColor& tint, double cornerRadius,
                    double glowStrength);

// How much room a card keeps around itself for its glow and shadow.
int cardMargin();

// A widget drawn as a card; its contents margins keep room for the glow, so
// a layout set on it lies inside the card.
class Card : public QWidget {
    Q_OBJECT
public:
    Card(const QColor& tint, double cornerRadius, double glowStrength, QWidget* parent = nullptr);
    void setTint(const QColor& tint);
    QRect cardRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor tint_;
    double cornerRadius_;
    double glowStrength_;
};

}  // namespace parlaro::ui
