#include "settings/WizardStep.h"

#include "speech/Localization.h"
#include "ui/Accessibility.h"
#include "ui/Icons.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/Text.h"
#include "ui/WidgetUpdates.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace parlaro::ui {

StepBadge::StepBadge(int number, QWidget* parent) : QWidget(parent), number_(number)
{
    setFixedSize(24, 24);
}

void StepBadge::setDone(bool done)
{
    if (done_ == done)
        return;
    done_ = done;
    update();
}

void StepBadge::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QRectF circle = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (done_) {
        painter.setPen(QPen(Palette::violet(), 1));
        painter.setBrush(Palette::withOpacity(Palette::violet(), 0.2));
        painter.drawEllipse(circle);
        QPixmap tick = Icons::pixmap(QStringLiteral("checkmark"), Palette::violet(), 11, devicePixelRatioF());
        painter.drawPixmap(QPointF((width() - 11) / 2.0, (height() - 11) / 2.0), tick);
    } else {
        painter.setPen(QPen(Palette::hairline(), 1));
        painter.setBrush(Palette::offWhite());
        painter.drawEllipse(circle);
        painter.setPen(Look::secondaryText());
        painter.setFont(Look::font(11, QFont::DemiBold));
        painter.drawText(rect(), Qt::AlignCenter, QString::number(number_));
    }
}

WizardStep::WizardStep(int number, const QString& title, bool keepControls, QWidget* parent)
    : QWidget(parent), keepControls_(keepControls)
{
    setObjectName(QStringLiteral("wizard.step%1").arg(number));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    badge_ = new StepBadge(number, this);
    badge_->setObjectName(objectName() + QStringLiteral(".badge"));
    // The tick is the only sign a step is done: a screen reader says it.
    Accessibility::setRole(badge_, QAccessible::StaticText);
    title_ = new QLabel(title, this);
    title_->setObjectName(objectName() + QStringLiteral(".title"));
    title_->setFont(Look::font(13));
    // A long step wraps rather than running under the sheet's edge.
    title_->setWordWrap(true);
    controlBox_ = new QWidget(this);
    controls_ = new QHBoxLayout(controlBox_);
    controls_->setContentsMargins(0, 0, 0, 0);
    controls_->setSpacing(6);
    row->addWidget(badge_);
    row->addWidget(title_, 1);
    row->addWidget(controlBox_);
    setProperty("done", false);
    badge_->setAccessibleName(q(localized("未完成")));
    updates::setTextColor(title_, Look::primaryText());
}

void WizardStep::setDone(bool done)
{
    badge_->setDone(done);
    updates::setAccessibleName(badge_, q(localized(done ? "已完成" : "未完成")));
    if (property("done").toBool() != done)
        setProperty("done", done);
    updates::setTextColor(title_, done ? Look::secondaryText() : Look::primaryText());
    updates::setVisible(controlBox_, !done || keepControls_);
}

}  // namespace parlaro::ui
