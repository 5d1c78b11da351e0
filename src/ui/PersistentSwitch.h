#pragma once

#include <QCheckBox>
#include <QColor>

namespace parlaro::ui {

// An on/off switch drawn the same in every window state: a 40 x 20 capsule
// with a white knob. A check box underneath, so it is checkable, answers
// Space and reads to assistive tools as a two-state control.
class PersistentSwitch : public QCheckBox {
    Q_OBJECT
public:
    explicit PersistentSwitch(QWidget* parent = nullptr);

    void setTint(const QColor& tint);
    QColor tint() const { return tint_; }

    // The knob's rectangle for the current state and direction.
    QRect knobRect() const;

    QSize sizeHint() const override { return {40, 20}; }
    QSize minimumSizeHint() const override { return {40, 20}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    QColor tint_;
};

}  // namespace parlaro::ui
