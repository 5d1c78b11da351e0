#include "ui/Screenful.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace parlaro::ui {

QString screenfulsOf(const std::string& text, qsizetype screenfuls)
{
    const qsizetype limit = screenfulLength * std::max<qsizetype>(1, screenfuls);
    // A UTF-8 character takes at most three bytes a UTF-16 unit, so this
    // many bytes hold more units than the limit.
    constexpr qsizetype spare = 8;
    const std::size_t bytes = static_cast<std::size_t>(limit + spare) * 3;
    if (text.size() <= bytes) {
        QString whole = QString::fromStdString(text);
        if (whole.size() <= limit)
            return whole;
    }
    const QString part =
        QString::fromUtf8(text.data(), static_cast<qsizetype>(std::min(text.size(), bytes))).left(limit + spare);
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, part);
    graphemes.setPosition(limit);
    if (!graphemes.isAtBoundary())
        graphemes.toPreviousBoundary();
    const qsizetype end = graphemes.position() > 0 ? graphemes.position() : limit;
    return part.left(end) + QChar(0x2026);
}

}  // namespace parlaro::ui
