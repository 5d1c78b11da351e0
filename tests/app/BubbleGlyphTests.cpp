#include "UiWorld.h"

#include "app/BubbleGlyph.h"

#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>

#include <gtest/gtest.h>

using namespace parlaro;
using namespace parlaro::app;

namespace {

struct Element {
    QPainterPath::ElementType type;
    double x;
    double y;
    bool operator==(const Element&) const = default;
};

std::vector<Element> elements(const QPainterPath& path)
{
    std::vector<Element> result;
    for (int i = 0; i < path.elementCount(); ++i) {
        const auto e = path.elementAt(i);
        result.push_back({e.type, e.x, e.y});
    }
    return result;
}

void expectBox(const QRectF& box, double left, double right, double top, double bottom, double within = 1e-9)
{
    EXPECT_NEAR(box.left(), left, within);
    EXPECT_NEAR(box.right(), right, within);
    EXPECT_NEAR(box.top(), top, within);
    EXPECT_NEAR(box.bottom(), bottom, within);
}

}  // namespace

TEST(BubbleGlyph, ParsesTheCommandsItKnows)
{
    using T = QPainterPath::ElementType;
    // "Z" closes back to the start with a line.
    EXPECT_EQ(
        elements(parseSVGPath("M10,20 30 40Z")),
        (std::vector<Element>{{T::MoveToElement, 10, 20}, {T::LineToElement, 30, 40}, {T::LineToElement, 10, 20}}));
    EXPECT_EQ(
        elements(parseSVGPath("M10 20H50V70")),
        (std::vector<Element>{{T::MoveToElement, 10, 20}, {T::LineToElement, 50, 20}, {T::LineToElement, 50, 70}}));
    EXPECT_EQ(elements(parseSVGPath("M1.2.3 5")), (std::vector<Element>{{T::MoveToElement, 0, 5}}));
    // Unknown and relative commands skip a token; numbers after a close or
    // data ending early end the parse rather than looping.
    EXPECT_EQ(elements(parseSVGPath("M1 2 m 9 L3 4")).back(), (Element{T::LineToElement, 3, 4}));
    EXPECT_EQ(parseSVGPath("M1 2 L3 4 Z 7 8").elementCount(), 3);
    EXPECT_EQ(elements(parseSVGPath("M1 2 C5")).back(), (Element{T::CurveToDataElement, 0, 0}));
    EXPECT_TRUE(parseSVGPath("").isEmpty());

    const auto& paths = bubbleGlyphPaths();
    expectBox(paths[0].controlPointRect(), 112, 614, 124, 780);
    expectBox(paths[1].controlPointRect(), 386, 888, 220, 876);
    EXPECT_EQ(&paths, &bubbleGlyphPaths()) << "made once";
}

namespace {

// The painted pixels' extent, in the painter's logical units when the
// painter was scaled by `zoom`.
QRectF paintedBox(const QImage& image, double zoom)
{
    int left = image.width(), right = -1, top = image.height(), bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) == 0)
                continue;
            left = std::min(left, x);
            right = std::max(right, x + 1);
            top = std::min(top, y);
            bottom = std::max(bottom, y + 1);
        }
    }
    return QRectF(QPointF(left / zoom, top / zoom), QPointF(right / zoom, bottom / zoom));
}

QRectF drawnAt(QRectF rect)
{
    constexpr double zoom = 100;
    QImage image(2200, 2200, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.scale(zoom, zoom);
    EXPECT_TRUE(drawBubbleGlyph(painter, rect));
    painter.end();
    return paintedBox(image, zoom);
}

}  // namespace

TEST(BubbleGlyph, FillsTheRectangleItIsGiven)
{
    test::UiWorld world;
    const QRectF atOrigin = drawnAt(QRectF(0, 0, 16, 16));
    expectBox(atOrigin, 0, 16, 0.25, 15.75, 0.011);
    const QRectF moved = drawnAt(QRectF(5, 5, 16, 16));
    expectBox(moved, 5, 21, 5.25, 20.75, 0.011);

    QPainter inactive;
    EXPECT_FALSE(drawBubbleGlyph(inactive, QRectF(0, 0, 16, 16)));

    for (int size : {16, 32, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::white);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        drawBubbleGlyph(painter, QRectF(0, 0, size, size));
        painter.end();
        QLabel label;
        label.setPixmap(pixmap);
        label.setFixedSize(size, size);
        test::snapshot(label, QStringLiteral("glyph"), QString::number(size));
    }
}
