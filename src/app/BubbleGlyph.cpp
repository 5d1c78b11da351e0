#include "app/BubbleGlyph.h"

#include <QPainter>
#include <QTransform>

#include <cctype>
#include <charconv>
#include <string>
#include <vector>

namespace parlaro::app {

const char* const bubblePathData =
    "M414 124H530C576 124 614 161 614 206C614 251 578 288 532 288H466C405 288 337 330 337 389C337 424 353 450 382 "
    "476L431 522C454 542 466 563 466 590C466 638 427 678 378 678H287C280 678 276 679 270 684L153 767C137 780 112 769 "
    "112 750V428C112 260 248 124 414 124Z";

namespace {

std::vector<std::string> tokens(std::string_view text)
{
    std::vector<std::string> result;
    std::string pending;
    auto flush = [&] {
        if (!pending.empty())
            result.push_back(std::move(pending));
        pending.clear();
    };
    for (char c : text) {
        if (std::isalpha(static_cast<unsigned char>(c))) {
            flush();
            result.emplace_back(1, c);
        } else if (c == ' ' || c == ',') {
            flush();
        } else {
            pending.push_back(c);
        }
    }
    flush();
    return result;
}

std::optional<double> numberIn(const std::string& token)
{
    double value = 0;
    const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
    if (error != std::errc() || end != token.data() + token.size())
        return std::nullopt;
    return value;
}

}  // namespace

QPainterPath parseSVGPath(std::string_view text)
{
    const std::vector<std::string> list = tokens(text);
    QPainterPath path;
    char command = 'M';
    std::size_t index = 0;
    auto read = [&](std::size_t offset) {
        const std::size_t at = index + offset;
        return at < list.size() ? numberIn(list[at]).value_or(0.0) : 0.0;
    };
    while (index < list.size()) {
        const bool repeated = numberIn(list[index]).has_value();
        if (!repeated) {
            command = list[index].size() == 1 ? list[index][0] : '\0';
            ++index;
        }
        const QPointF current = path.currentPosition();
        switch (command) {
        case 'M':
            path.moveTo(read(0), read(1));
            index += 2;
            command = 'L';
            break;
        case 'L':
            path.lineTo(read(0), read(1));
            index += 2;
            break;
        case 'H':
            path.lineTo(read(0), current.y());
            index += 1;
            break;
        case 'V':
            path.lineTo(current.x(), read(0));
            index += 1;
            break;
        case 'C':
            path.cubicTo(read(0), read(1), read(2), read(3), read(4), read(5));
            index += 6;
            break;
        case 'Z':
            path.closeSubpath();
            // A number after a close would otherwise be read for ever.
            if (repeated)
                index += 1;
            break;
        default:
            index += 1;
            break;
        }
    }
    return path;
}

const std::array<QPainterPath, 2>& bubbleGlyphPaths()
{
    static const std::array<QPainterPath, 2> paths = [] {
        QPainterPath bubble = parseSVGPath(bubblePathData);
        const QTransform turned(-1, 0, 0, -1, 1000, 1000);
        return std::array<QPainterPath, 2>{bubble, turned.map(bubble)};
    }();
    return paths;
}

bool drawBubbleGlyph(QPainter& painter, QRectF rect)
{
    if (!painter.isActive())
        return false;
    const double height = rect.height();
    const double s = height / 776.0;
    painter.save();
    painter.translate(rect.x() - 112 * s, rect.y() + (height - 752 * s) / 2 - 124 * s);
    painter.scale(s, s);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    QPainterPath both;
    both.setFillRule(Qt::WindingFill);
    for (const QPainterPath& path : bubbleGlyphPaths())
        both.addPath(path);
    both.setFillRule(Qt::WindingFill);
    painter.drawPath(both);
    painter.restore();
    return true;
}

}  // namespace parlaro::app
