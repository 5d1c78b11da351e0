#pragma once

#include "ui/ViewBinding.h"

#include <QColor>
#include <QWidget>

#include <array>
#include <memory>

namespace parlaro {
class AudioMeters;
}

namespace parlaro::ui {

// Five bars that move with the microphone level, 20 x 16.
class LiveWaveform : public QWidget {
    Q_OBJECT
public:
    explicit LiveWaveform(std::shared_ptr<AudioMeters> meters, QWidget* parent = nullptr);
    ~LiveWaveform() override;

    // The bar heights for a level: 3 at silence, up to 14 in the middle;
    // a level above 1 counts as 1.
    static std::array<double, 5> barHeights(float level);
    std::array<double, 5> barHeights() const { return barHeights(level_); }

    void setColor(const QColor& color);
    void setOpacity(double opacity);

    QSize sizeHint() const override { return {20, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::shared_ptr<AudioMeters> meters_;
    float level_ = 0.0f;
    QColor color_ = Qt::white;
    double opacity_ = 1.0;
    std::unique_ptr<ViewBinding> binding_;
};

}  // namespace parlaro::ui
