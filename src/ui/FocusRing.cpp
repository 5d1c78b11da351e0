#include "ui/FocusRing.h"

#include "ui/HoldButton.h"
#include "ui/Palette.h"
#include "ui/PillButton.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProxyStyle>

#include <algorithm>
#include <cmath>

namespace parlaro::ui {

namespace {

constexpr double cornerRadius = 5.0;
// Between the control's outline and the ring, so that the ring stands
// apart from a control of the same colour (the talk button).
constexpr double gap = 1.5;

// The room the frame keeps around its control: the ring and its gap.
class RingRoom : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        if (metric == PM_FocusFrameHMargin || metric == PM_FocusFrameVMargin)
            return static_cast<int>(std::ceil(gap + FocusRing::width)) + 1;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
    // Over the control: a control painted by hand may cover what is under it.
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override
    {
        if (hint == SH_FocusFrame_AboveWidget)
            return 1;
        // No mask to the band outside the control: a pill's ring lies
        // inside its widget, around the capsule.
        if (hint == SH_FocusFrame_Mask)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

// Decides where the ring goes: it listens to the focus and to which
// device was used last.
class Follower : public QObject {
public:
    Follower()
    {
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget*) { place(); });
        qApp->installEventFilter(this);
    }

    QPointer<FocusRing> ring;
    QPointer<QWidget> around;
    FocusRing* (*make)(QWidget*) = nullptr;

    bool eventFilter(QObject*, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
            if (!keyboard_) {
                keyboard_ = true;
                place();
            }
            break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            if (keyboard_) {
                keyboard_ = false;
                // After the click has moved the focus, if it does.
                QMetaObject::invokeMethod(
                    this, [this] { place(); }, Qt::QueuedConnection);
            }
            break;
        default:
            break;
        }
        return false;
    }

    void place()
    {
        QWidget* control = QApplication::focusWidget();
        if (!shows(control))
            control = nullptr;
        if (control == around && (!control || ring))
            return;
        around = control;
        if (!control) {
            if (ring)
                ring->setWidget(nullptr);
            return;
        }
        if (!ring)
            ring = make(control);
        else
            ring->setWidget(control);
        ring->update();
    }

private:
    bool shows(QWidget* control) const
    {
        if (!control || control->isWindow() || !(control->focusPolicy() & Qt::TabFocus))
            return false;
        // The open list of a picker marks its own current item.
        if (control->window()->windowType() == Qt::Popup)
            return false;
        return keyboard_ || control->testAttribute(Qt::WA_InputMethodEnabled);
    }

    // Until the mouse is used the keyboard is assumed: whoever starts
    // without a mouse sees at once where they are.
    bool keyboard_ = true;
};

Follower* follower = nullptr;

}  // namespace

FocusRing::FocusRing(QWidget* control) : QFocusFrame(control)
{
    setObjectName(QStringLiteral("focusRing"));
    static RingRoom* room = [] {
        auto* style = new RingRoom(QStringLiteral("Fusion"));
        style->setParent(qApp);
        return style;
    }();
    setStyle(room);
    setWidget(control);
}

void FocusRing::install()
{
    if (follower)
        return;
    follower = new Follower;
    follower->setParent(qApp);
    follower->make = [](QWidget* control) { return new FocusRing(control); };
    follower->place();
}

QWidget* FocusRing::shownAround()
{
    if (!follower || !follower->ring || !follower->ring->isVisible())
        return nullptr;
    return follower->around;
}

FocusRing::Shape FocusRing::shapeOf(const QWidget* control)
{
    if (auto* pill = qobject_cast<const PillButton*>(control)) {
        const QRectF body = pill->capsuleRect();
        return {body, body.height() / 2.0};
    }
    if (qobject_cast<const HoldButton*>(control)) {
        const QRectF body = control->rect();
        return {body, body.height() / 2.0};
    }
    return {control->rect(), cornerRadius};
}

void FocusRing::paintEvent(QPaintEvent*)
{
    QWidget* control = widget();
    if (!control)
        return;
    const Shape shape = shapeOf(control);
    // The ring lies just outside the control's outline.
    const double grow = gap + width / 2.0;
    // The frame may sit on an ancestor of the control's parent.
    const QPoint origin = mapFrom(window(), control->mapTo(window(), QPoint(0, 0)));
    const QRectF rect = QRectF(shape.rect).translated(origin).adjusted(-grow, -grow, grow, grow);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Palette::violet(), width));
    painter.setBrush(Qt::NoBrush);
    const double radius = std::min(shape.radius + grow, std::min(rect.width(), rect.height()) / 2.0);
    painter.drawRoundedRect(rect, radius, radius);
}

}  // namespace parlaro::ui
