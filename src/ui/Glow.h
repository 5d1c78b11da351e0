#pragma once

#include <QColor>
#include <QPainterPath>
#include <QPointF>

#include <cstddef>

class QPainter;

namespace parlaro::ui {

// The shared glow: two shadows without offset, the colour at strength x 0.35
// blurred by radius / 3, then at strength x 0.15 blurred by radius. Drawn
// from a cached blurred image of the shape: a graphics effect per widget
// would re-blur on every repaint.
void paintGlow(QPainter& painter, const QPainterPath& shape, const QColor& color, double strength, double radius);

// One shadow of the shape: the colour at `opacity`, blurred by `blurRadius`
// (a Gaussian of deviation blurRadius / 2), moved by `offset`.
void paintShadow(QPainter& painter, const QPainterPath& shape, const QColor& color, double opacity, double blurRadius,
                 QPointF offset = {});

// The same for a rounded rectangle (a capsule when the radius is half the
// height). Its blurred image is cut into nine slices and stretched, so one
// cached image serves every width and height: a level meter's fill changes
// size on every update without blurring anew.
void paintGlow(QPainter& painter, const QRectF& rect, double cornerRadius, const QColor& color, double strength,
               double radius);
void paintShadow(QPainter& painter, const QRectF& rect, double cornerRadius, const QColor& color, double opacity,
                 double blurRadius, QPointF offset = {});

// How far a glow of this radius reaches past its shape: a widget that
// glows keeps this much room on every side.
int glowMargin(double radius);

// How many shadow images this process has blurred. Blurring is the costly
// part of a glow, done on the main thread: a widget that animates should
// add none once its first frames are drawn.
std::size_t shadowsBlurred();

// A capsule (fully rounded ends) filling the rectangle.
QPainterPath capsule(const QRectF& rect);

}  // namespace parlaro::ui
