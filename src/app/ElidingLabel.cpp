#include "app/ElidingLabel.h"

#include <QPainter>
#include <QStyle>
#include <QTextLayout>

#include <algorithm>

namespace parlaro::app {

ElidingLabel::ElidingLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

QSize ElidingLabel::minimumSizeHint() const
{
    QSize size = QLabel::minimumSizeHint();
    const int least =
        fontMetrics().horizontalAdvance(QStringLiteral("M…")) + contentsMargins().left() + contentsMargins().right();
    size.setWidth(std::min(size.width(), least));
    return size;
}

void ElidingLabel::setTwoLines(bool twoLines)
{
    if (twoLines_ == twoLines)
        return;
    twoLines_ = twoLines;
    update();
}

bool ElidingLabel::needsTwoLines(int width) const
{
    return fontMetrics().horizontalAdvance(text()) > width;
}

int ElidingLabel::firstLineLength(int width) const
{
    QTextLayout layout(text(), font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine first = layout.createLine();
    first.setLineWidth(width);
    const int cut = std::max(1, first.textLength());
    layout.endLayout();
    return cut;
}

bool ElidingLabel::fitsTwoLines(int width) const
{
    return !needsTwoLines(width) || fontMetrics().horizontalAdvance(text().mid(firstLineLength(width))) <= width;
}

QString ElidingLabel::shownText() const
{
    const int width = contentsRect().width();
    if (!twoLines_ || !needsTwoLines(width))
        return fontMetrics().elidedText(text(), Qt::ElideRight, width);
    const int cut = firstLineLength(width);
    return text().left(cut) + QLatin1Char('\n') + fontMetrics().elidedText(text().mid(cut), Qt::ElideRight, width);
}

void ElidingLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.setFont(font());
    const auto alignment = QStyle::visualAlignment(layoutDirection(), Qt::AlignLeft | Qt::AlignVCenter);
    // The text runs in its own direction: an Arabic sentence ends with its
    // full stop on the left, whichever side it starts from.
    QString shown = shownText();
    // The first of two lines ends where it broke, at a space that took no
    // room in the break: drawn, it would push a right-to-left line's first
    // letter past the edge.
    if (const auto breakAt = shown.indexOf(QLatin1Char('\n')); breakAt > 0) {
        auto end = breakAt;
        while (end > 0 && shown.at(end - 1).isSpace())
            --end;
        shown.remove(end, breakAt - end);
    }
    painter.setLayoutDirection(shown.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
    painter.drawText(contentsRect(), static_cast<int>(alignment), shown);
}

}  // namespace parlaro::app
