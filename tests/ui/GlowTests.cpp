#include "UiWorld.h"

#include "ui/Glow.h"
#include "ui/Palette.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <initializer_list>

using namespace parlaro;

namespace {

QImage paint(const std::function<void(QPainter&)>& draw)
{
    QImage image(240, 120, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    draw(painter);
    return image.convertToFormat(QImage::Format_ARGB32);
}

int largestDifference(const QImage& a, const QImage& b)
{
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            QColor p = a.pixelColor(x, y);
            QColor q = b.pixelColor(x, y);
            largest = std::max(
                {largest, std::abs(p.red() - q.red()), std::abs(p.green() - q.green()), std::abs(p.blue() - q.blue())});
        }
    }
    return largest;
}

}  // namespace

TEST(Glow, StretchedSlicesMatchBlurringTheWholeShape)
{
    test::UiWorld world;
    const QColor violet = ui::Palette::violet();
    struct Case {
        QRectF rect;
        double radius;
        double blur;
    };
    for (const Case& c : {Case{QRectF(40, 30, 160, 52), 26.0, 26.0}, Case{QRectF(30, 40, 180, 8), 4.0, 8.0},
                          Case{QRectF(20, 20, 200, 80), 14.0, 14.0}}) {
        const QRectF rect = c.rect;
        const double radius = c.radius;
        const double blur = c.blur;
        auto slices = paint([&](QPainter& p) { ui::paintShadow(p, rect, radius, violet, 0.6, blur); });
        auto whole = paint([&](QPainter& p) {
            QPainterPath shape;
            shape.addRoundedRect(rect, radius, radius);
            ui::paintShadow(p, shape, violet, 0.6, blur);
        });
        EXPECT_LE(largestDifference(slices, whole), 3) << rect.width() << " x " << rect.height();
        // Something was drawn, and most strongly at the shape.
        EXPECT_LT(slices.pixelColor(rect.center().toPoint()).red(), 230);
    }
    auto none = paint([&](QPainter& p) { ui::paintGlow(p, QRectF(40, 30, 160, 52), 26, violet, 0.0, 14); });
    EXPECT_EQ(none.pixelColor(120, 56), QColor(Qt::white));
}
