#include "app/Spinner.h"

#include "ui/Look.h"
#include "ui/Motion.h"

#include <QPainter>
#include <QTimer>

namespace parlaro::app {

namespace {
constexpr int ticks = 8;
}

Spinner::Spinner(int size, QWidget* parent) : QWidget(parent), size_(size)
{
    setFixedSize(size, size);
    timer_ = new QTimer(this);
    timer_->setInterval(90);
    connect(timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % ticks;
        update();
    });
}

void Spinner::showEvent(QShowEvent*)
{
    if (ui::Motion::enabled())
        timer_->start();
}

void Spinner::hideEvent(QHideEvent*)
{
    timer_->stop();
}

void Spinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    double outer = size_ / 2.0 - 1;
    QPen pen(ui::Look::secondaryText());
    pen.setWidthF(std::max(1.5, size_ / 9.0));
    pen.setCapStyle(Qt::RoundCap);
    for (int i = 0; i < ticks; ++i) {
        QColor color = ui::Look::secondaryText();
        color.setAlphaF(0.25 + 0.75 * ((i + ticks - step_) % ticks) / double(ticks - 1));
        pen.setColor(color);
        painter.setPen(pen);
        painter.drawLine(QPointF(0, -outer * 0.45), QPointF(0, -outer));
        painter.rotate(360.0 / ticks);
    }
}

}  // namespace parlaro::app
