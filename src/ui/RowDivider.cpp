#include "ui/RowDivider.h"

#include "ui/Palette.h"

#include <QPainter>

namespace parlaro::ui {

RowDivider::RowDivider(QWidget* parent) : QWidget(parent)
{
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void RowDivider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    // The indent sits on the side where reading starts.
    QRect line = rect();
    if (layoutDirection() == Qt::RightToLeft)
        line.setRight(line.right() - 12);
    else
        line.setLeft(line.left() + 12);
    painter.fillRect(line, Palette::hairline());
}

}  // namespace parlaro::ui
