#pragma once

#include <QColor>
#include <QWidget>

class QPainter;

namespace parlaro::ui {

// A level from 0 to 1 as a capsule track with a tinted fill from the
// leading edge. 8 high. Its glow reaches past its bounds, so the widget
// that holds it paints it (paintGlow) and is told where to repaint through
// setGlowHost; without a host no glow is drawn.
class LevelMeterBar : public QWidget {
    Q_OBJECT
public:
    explicit LevelMeterBar(const QColor& tint, QWidget* parent = nullptr);

    static constexpr int barHeight = 8;
    static constexpr double glowRadius = 8.0;

    // A level change repaints the bar (and its glow), never relays out.
    void setLevel(float level);
    float level() const { return level_; }
    void setTint(const QColor& tint);
    QColor tint() const { return tint_; }
    void setGlowHost(QWidget* host) { glowHost_ = host; }

    // The fill in the bar's own coordinates; empty at level 0.
    QRectF fillRect() const;
    // The fill's glow, painted by the host at the bar's place in the host.
    void paintGlow(QPainter& hostPainter) const;

    QSize sizeHint() const override { return {72, barHeight}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void redraw();

    QColor tint_;
    float level_ = 0.0f;
    QWidget* glowHost_ = nullptr;
};

}  // namespace parlaro::ui
