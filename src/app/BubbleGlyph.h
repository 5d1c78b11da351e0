#pragma once

#include <QPainterPath>
#include <QRectF>

#include <array>
#include <string_view>

class QPainter;

namespace parlaro::app {

// One speech bubble in a 1000-unit box, y downwards.
extern const char* const bubblePathData;

// Absolute M, L, H, V, C and Z; a token that is no number reads 0, any
// other command skips one token. Numbers are separated by spaces, commas or
// letters only. Never fails.
QPainterPath parseSVGPath(std::string_view text);

// The bubble and its copy turned half a turn about the box's centre; made
// once.
const std::array<QPainterPath, 2>& bubbleGlyphPaths();

// Fills both bubbles in black, scaled so that together they are as wide as
// the rectangle is high, centred vertically, from the rectangle's origin.
// False, with nothing drawn, when the painter is not active.
bool drawBubbleGlyph(QPainter& painter, QRectF rect);

}  // namespace parlaro::app
