#include "app/ElidingLabel.h"

#include <QPainter>
#include <QStyle>

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

QString ElidingLabel::shownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
}

void ElidingLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.setFont(font());
    const auto alignment = QStyle::visualAlignment(layoutDirection(), Qt::AlignLeft | Qt::AlignVCenter);
    // The text runs in its own direction: an Arabic sentence ends with its
    // full stop on the left, whichever side it starts from.
    const QString shown = shownText();
    painter.setLayoutDirection(shown.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
    painter.drawText(contentsRect(), static_cast<int>(alignment), shown);
}

}  // namespace parlaro::app
