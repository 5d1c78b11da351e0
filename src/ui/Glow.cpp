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

// One horizontal or vertical box-blur pass over an 8-bit alpha image. The
// pixels are reached through one pointer: scanLine() checks for a shared
// copy on every call, which made a large glow cost frames.
void boxBlur(QImage& image, int radius, bool horizontal)
{
    if (radius <= 0)
        return;
    const int width = image.width();
    const int height = image.height();
    const int lines = horizontal ? height : width;
    const int length = horizontal ? width : height;
    const qsizetype stride = image.bytesPerLine();
    const qsizetype lineStep = horizontal ? stride : 1;
    const qsizetype pixelStep = horizontal ? 1 : stride;
    uchar* const pixels = image.bits();
    const int window = 2 * radius + 1;
    std::vector<int> line(static_cast<std::size_t>(length));
    for (int l = 0; l < lines; ++l) {
        uchar* const first = pixels + l * lineStep;
        for (int i = 0; i < length; ++i)
            line[static_cast<std::size_t>(i)] = first[i * pixelStep];
        int sum = 0;
        for (int i = -radius; i <= radius; ++i)
            sum += (i >= 0 && i < length) ? line[static_cast<std::size_t>(i)] : 0;
        for (int i = 0; i < length; ++i) {
            first[i * pixelStep] = static_cast<uchar>((sum + window / 2) / window);
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

QString cacheKey(const QPainterPath& shape, const QColor& color, double blurRadius, qreal ratio)
{
    QString key = QStringLiteral("%1/%2/%3/").arg(color.rgb()).arg(blurRadius).arg(ratio);
    auto origin = shape.boundingRect().topLeft();
    for (int i = 0; i < shape.elementCount(); ++i) {
        auto element = shape.elementAt(i);
        key += QStringLiteral("%1,%2,%3;").arg(element.type).arg(element.x - origin.x()).arg(element.y - origin.y());
    }
    return key;
}

int blurReach(double blurRadius)
{
    // Three deviations (blur / 2 each) hold all that shows.
    return static_cast<int>(std::ceil(blurRadius / 2.0 * 3.0)) + 1;
}

std::size_t blurCount = 0;

QCache<QString, QImage>& cache()
{
    static QCache<QString, QImage> images(96);
    return images;
}

}  // namespace

int glowMargin(double radius)
{
    return static_cast<int>(std::ceil(std::max(0.0, radius)));
}

std::size_t shadowsBlurred()
{
    return blurCount;
}

QPainterPath capsule(const QRectF& rect)
{
    QPainterPath path;
    double r = std::min(rect.width(), rect.height()) / 2.0;
    path.addRoundedRect(rect, r, r);
    return path;
}

namespace {

// The shape's shadow in the colour at full strength, with `margin` around
// its bounds, cached; the caller sets the opacity.
const QImage& blurredImage(const QPainterPath& shape, const QColor& color, double blurRadius, qreal ratio, int margin)
{
    auto key = cacheKey(shape, color, blurRadius, ratio);
    if (QImage* cached = cache().object(key))
        return *cached;
    const QRectF bounds = shape.boundingRect();
    QSize size((QSizeF(bounds.width() + 2 * margin, bounds.height() + 2 * margin) * ratio).toSize() + QSize(1, 1));
    QImage alpha(size, QImage::Format_Alpha8);
    alpha.fill(0);
    {
        QPainter p(&alpha);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(ratio, ratio);
        p.translate(margin - bounds.left(), margin - bounds.top());
        p.fillPath(shape, Qt::black);
    }
    gaussianBlur(alpha, blurRadius / 2.0 * ratio);
    ++blurCount;
    auto tinted = std::make_unique<QImage>(size, QImage::Format_ARGB32_Premultiplied);
    tinted->fill(Qt::transparent);
    {
        QPainter p(tinted.get());
        QColor opaque = color;
        opaque.setAlpha(255);
        p.fillRect(tinted->rect(), opaque);
        p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        p.drawImage(0, 0, alpha);
    }
    tinted->setDevicePixelRatio(ratio);
    QImage* image = tinted.get();
    cache().insert(key, tinted.release());
    return *image;
}

qreal ratioOf(QPainter& painter)
{
    return painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
}

}  // namespace

void paintShadow(QPainter& painter, const QPainterPath& shape, const QColor& color, double opacity, double blurRadius,
                 QPointF offset)
{
    if (opacity <= 0.0 || shape.isEmpty())
        return;
    const int margin = blurReach(blurRadius);
    const QImage& image = blurredImage(shape, color, blurRadius, ratioOf(painter), margin);
    const QRectF bounds = shape.boundingRect();
    painter.save();
    painter.setOpacity(painter.opacity() * opacity * color.alphaF());
    painter.drawImage(QPointF(bounds.left() - margin, bounds.top() - margin) + offset, image);
    painter.restore();
}

void paintShadow(QPainter& painter, const QRectF& rect, double cornerRadius, const QColor& color, double opacity,
                 double blurRadius, QPointF offset)
{
    if (opacity <= 0.0 || rect.isEmpty())
        return;
    const double r = std::clamp(cornerRadius, 0.0, std::min(rect.width(), rect.height()) / 2.0);
    const int margin = blurReach(blurRadius);
    // The straight part of the canonical shape is long enough that its
    // middle line is unaffected by the corners; the rectangle must be at
    // least that big to be cut from it.
    const double edge = std::ceil(r) + margin;
    const double side = 2.0 * edge + 1.0;
    if (rect.width() < side || rect.height() < side || r != cornerRadius) {
        QPainterPath shape;
        shape.addRoundedRect(rect, r, r);
        paintShadow(painter, shape, color, opacity, blurRadius, offset);
        return;
    }
    const qreal ratio = ratioOf(painter);
    QPainterPath canonical;
    canonical.addRoundedRect(QRectF(0, 0, side, side), r, r);
    const QImage& image = blurredImage(canonical, color, blurRadius, ratio, margin);
    // Source slices in device pixels, targets in logical ones.
    const double full = side + 2.0 * margin;
    const double cut = edge + margin;
    const QRectF target = rect.adjusted(-margin, -margin, margin, margin).translated(offset);
    const double xs[] = {0.0, cut, full - cut, full};
    const double ys[] = {0.0, cut, full - cut, full};
    const double xt[] = {target.left(), target.left() + cut, target.right() - cut, target.right()};
    const double yt[] = {target.top(), target.top() + cut, target.bottom() - cut, target.bottom()};
    painter.save();
    painter.setOpacity(painter.opacity() * opacity * color.alphaF());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            QRectF source(QPointF(xs[column] * ratio, ys[row] * ratio),
                          QPointF(xs[column + 1] * ratio, ys[row + 1] * ratio));
            QRectF to(QPointF(xt[column], yt[row]), QPointF(xt[column + 1], yt[row + 1]));
            painter.drawImage(to, image, source);
        }
    }
    painter.restore();
}

void paintGlow(QPainter& painter, const QRectF& rect, double cornerRadius, const QColor& color, double strength,
               double radius)
{
    if (strength <= 0.0 || radius <= 0.0)
        return;
    paintShadow(painter, rect, cornerRadius, color, strength * 0.35, radius / 3.0);
    paintShadow(painter, rect, cornerRadius, color, strength * 0.15, radius);
}

void paintGlow(QPainter& painter, const QPainterPath& shape, const QColor& color, double strength, double radius)
{
    if (strength <= 0.0 || radius <= 0.0)
        return;
    paintShadow(painter, shape, color, strength * 0.35, radius / 3.0);
    paintShadow(painter, shape, color, strength * 0.15, radius);
}

}  // namespace parlaro::ui
