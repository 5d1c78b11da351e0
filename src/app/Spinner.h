#pragma once

#include <QWidget>

class QTimer;

namespace parlaro::app {

// A small indeterminate progress mark: a ring of fading ticks. It turns only
// while motion is on and it is shown.
class Spinner : public QWidget {
    Q_OBJECT
public:
    explicit Spinner(int size = 16, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {size_, size_}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int size_;
    int step_ = 0;
    QTimer* timer_ = nullptr;
};

}  // namespace parlaro::app
