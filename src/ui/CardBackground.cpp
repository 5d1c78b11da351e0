#include "ui/CardBackground.h"

#include "ui/Glow.h"
#include "ui/Palette.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <list>
#include <utility>

namespace parlaro::ui {

namespace {
constexpr double cardGlowRadius = 14.0;

// Card backgrounds as last drawn, most recent first. A card repaints for
// every change of its text (a live caption several times a second) while
// its size and tint stay, and stretching the blurred glow anew each time was
// most of the cost; the cards of a conversation share a handful of sizes,
// and the number kept stays fixed however long the conversation grows.
struct Look {
    QSize size;
    qreal ratio;
    QRgb tint;
    double cornerRadius;
    double glowStrength;
    bool operator==(const Look&) const = default;
};
constexpr std::size_t keptBackgrounds = 12;
std::list<std::pair<Look, QImage>> drawn;  // main thread
}  // namespace

int cardMargin()
{
    return glowMargin(cardGlowRadius);
}

void cardBackground(QPainter& painter, const QRectF& rect, const QColor& tint, double cornerRadius, double glowStrength)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius, cornerRadius);
    const QRectF body = rect.adjusted(0.5, 0.5, -0.5, -0.5);
    paintShadow(painter, body, cornerRadius, Qt::black, 0.04, 3.0, QPointF(0, 1));
    paintGlow(painter, body, cornerRadius, tint, glowStrength, cardGlowRadius);
    painter.fillPath(shape, Palette::offWhite());
    painter.setPen(QPen(Palette::hairline(), 1));
    painter.drawPath(shape);
    painter.restore();
}

Card::Card(const QColor& tint, double cornerRadius, double glowStrength, QWidget* parent)
    : QWidget(parent), tint_(tint), cornerRadius_(cornerRadius), glowStrength_(glowStrength)
{
    int m = cardMargin();
    setContentsMargins(m, m, m, m);
}

void Card::setTint(const QColor& tint)
{
    if (tint_ == tint)
        return;
    tint_ = tint;
    update();
}

QRect Card::cardRect() const
{
    int m = cardMargin();
    return rect().adjusted(m, m, -m, -m);
}

void Card::paintEvent(QPaintEvent*)
{
    const Look look{size(), devicePixelRatioF(), tint_.rgba(), cornerRadius_, glowStrength_};
    const QImage* background = nullptr;
    for (auto it = drawn.begin(); it != drawn.end(); ++it) {
        if (it->first == look) {
            drawn.splice(drawn.begin(), drawn, it);
            background = &drawn.front().second;
            break;
        }
    }
    if (!background) {
        QImage image((QSizeF(look.size) * look.ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(look.ratio);
        image.fill(Qt::transparent);
        QPainter drawing(&image);
        cardBackground(drawing, cardRect(), tint_, cornerRadius_, glowStrength_);
        drawing.end();
        drawn.emplace_front(look, std::move(image));
        if (drawn.size() > keptBackgrounds)
            drawn.pop_back();
        background = &drawn.front().second;
    }
    QPainter painter(this);
    painter.drawImage(QPointF(0, 0), *background);
}

}  // namespace parlaro::ui
