#pragma once

#include <QColor>
#include <QWidget>

namespace parlaro::ui {

// A 7-point glowing dot; the widget keeps room for the glow around it.
class StatusDot : public QWidget {
    Q_OBJECT
public:
    explicit StatusDot(const QColor& color, QWidget* parent = nullptr);
    void setColor(const QColor& color);
    QColor color() const { return color_; }

    static constexpr double glowRadius = 6.0;
    static constexpr int diameter = 7;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor color_;
};

// A 1-point divider, across or upright.
class Hairline : public QWidget {
    Q_OBJECT
public:
    explicit Hairline(bool vertical = false, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The window background: white with a faint violet wash from the top edge.
class AppBackground : public QWidget {
    Q_OBJECT
public:
    explicit AppBackground(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace parlaro::ui
