#include "ui/Glow.h"

#include "ui/Palette.h"

#include <QCache>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

namespace parlaro::ui {

namespace {

// One horizontal or vertical box-blur pass over an 8-bit alpha image.
void boxBlur(QImage& image, int radius, bool horizontal)
{
    if (radius <= 0)
        return;
    const int width = image.width();
    const int height = image.height();
    const int lines = horizontal ? height : width;
    const int length = horizontal ? width : height;
    const int window = 2 * radius + 1;
    std::vector<int> line(static_cast<std::size_t>(length));
    for (int l = 0; l < lines; ++l) {
        auto at = [&](int i) -> uchar& {
            return horizontal ? image.scanLine(l)[i] : image.scanLine(i)[l];
        };
        for (int i = 0; i < length; ++i)
            line[static_cast<std::size_t>(i)] = at(i);
        int sum = 0;
        for (int i = -radius; i <= radius; ++i)
            sum += (i >= 0 && i < length) ? line[static_cast<std::size_t>(i)] : 0;
        for (int i = 0; i < length; ++i) {
            at(i) = static_cast<uchar>((sum + window / 2) / window);
            int out = i - radius;
            int in = i + radius + 1;
            if (out >= 0)
                sum -= line[static_cast<std::size_t>(out)];
            if (in < length)
                sum += line[static_cast<std::size_t>(in)];
        }
    }
}

// Three box passes each way come within a few percent of a Gaussian.
void gaussianBlur(QImage& alpha, double sigma)
{
    if (sigma <= 0.0)
        return;
    const double ideal = std::sqrt(12.0 * sigma * sigma / 3.0 + 1.0);
    const int radius = std::max(0, static_cast<int>(std::lround((ideal - 1.0) / 2.0)));
    for (int pass = 0; pass < 3; ++pass) {
        boxBlur(alpha, radius, true);
        boxBlur(alpha, radius, false);
    }
}

QString cacheKey(const QPainterPath& shape, const QColor& color, double opacity, double blurRadius, qreal ratio)
{
    QString key = QStringLiteral("%1/%2/%3/%4/").arg(color.rgba()).arg(opacity).arg(blurRadius).arg(ratio);
    auto origin = shape.boundingRect().topLeft();
    for (int i = 0; i < shape.elementCount(); ++i) {
        auto element = shape.elementAt(i);
        key += QStringLiteral("%1,%2,%3;").arg(element.type).arg(element.x - origin.x()).arg(element.y - origin.y());
    }
    return key;
}

QCache<QString, QImage>& cache()
{
    static QCache<QString, QImage> images(96);
    return images;
}

} // namespace

int glowMargin(double radius)
{
    return static_cast<int>(std::ceil(std::max(0.0, radius)));
}

QPainterPath capsule(const QRectF& rect)
{
    QPainterPath path;
    double r = std::min(rect.width(), rect.height()) / 2.0;
    path.addRoundedRect(rect, r, r);
    return path;
}

void paintShadow(QPainter& painter, const QPainterPath& shape, const QColor& color, double opacity, double blurRadius,
                 QPointF offset)
{
    if (opacity <= 0.0 || shape.isEmpty())
        return;
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const double sigma = blurRadius / 2.0;
    const int margin = static_cast<int>(std::ceil(sigma * 3.0)) + 1;
    const QRectF bounds = shape.boundingRect();
    auto key = cacheKey(shape, color, opacity, blurRadius, ratio);
    QImage* image = cache().object(key);
    if (!image) {
        QSize size((QSizeF(bounds.width() + 2 * margin, bounds.height() + 2 * margin) * ratio).toSize()
                   + QSize(1, 1));
        QImage alpha(size, QImage::Format_Alpha8);
        alpha.fill(0);
        {
            QPainter p(&alpha);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(ratio, ratio);
            p.translate(margin - bounds.left(), margin - bounds.top());
            p.fillPath(shape, Qt::black);
        }
        gaussianBlur(alpha, sigma * ratio);
        auto tinted = std::make_unique<QImage>(size, QImage::Format_ARGB32_Premultiplied);
        tinted->fill(Qt::transparent);
        {
            QPainter p(tinted.get());
            p.fillRect(tinted->rect(), Palette::withOpacity(color, opacity));
            p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
            p.drawImage(0, 0, alpha);
        }
        tinted->setDevicePixelRatio(ratio);
        image = tinted.get();
        cache().insert(key, tinted.release());
    }
    painter.drawImage(QPointF(bounds.left() - margin, bounds.top() - margin) + offset, *image);
}

void paintGlow(QPainter& painter, const QPainterPath& shape, const QColor& color, double strength, double radius)
{
    if (strength <= 0.0 || radius <= 0.0)
        return;
    paintShadow(painter, shape, color, strength * 0.35, radius / 3.0);
    paintShadow(painter, shape, color, strength * 0.15, radius);
}

} // namespace parlaro::ui
