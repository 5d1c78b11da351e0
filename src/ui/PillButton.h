#pragma once

#include <QColor>
#include <QPushButton>

namespace parlaro::ui {

// The shared capsule button. A QPushButton, so it can be a dialog's default
// button and answers Return and Space as any button does. Active pills take
// their tint and glow; inactive ones are white with a hairline. The widget
// keeps room for the glow around the capsule.
class PillButton : public QPushButton {
    Q_OBJECT
public:
    explicit PillButton(const QString& text = {}, QWidget* parent = nullptr);

    void setTint(const QColor& tint);
    QColor tint() const { return tint_; }
    void setActive(bool active);
    bool isActive() const { return active_; }

    // The capsule inside the widget's rectangle.
    QRect capsuleRect() const;
    static constexpr double glowRadius = 10.0;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    QColor tint_;
    bool active_ = false;
};

}  // namespace parlaro::ui
