#include "ui/LiveWaveform.h"

#include "audio/AudioMeters.h"
#include "ui/Glow.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace parlaro::ui {

LiveWaveform::LiveWaveform(std::shared_ptr<AudioMeters> meters, QWidget* parent)
    : QWidget(parent), meters_(std::move(meters))
{
    setFixedSize(20, 16);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    binding_ = std::make_unique<ViewBinding>([this] {
        float level = meters_->micLevel();
        if (level != level_) {
            level_ = level;
            update();
        }
    });
}

LiveWaveform::~LiveWaveform() = default;

std::array<double, 5> LiveWaveform::barHeights(float level)
{
    static constexpr std::array<double, 5> weights{0.45, 0.75, 1.0, 0.75, 0.45};
    double clamped = std::isnan(level) ? 0.0 : std::clamp(static_cast<double>(level), 0.0, 1.0);
    std::array<double, 5> heights{};
    for (std::size_t i = 0; i < weights.size(); ++i)
        heights[i] = clamped * (weights[i] * 11.0) + 3.0;
    return heights;
}

void LiveWaveform::setColor(const QColor& color)
{
    if (color_ == color)
        return;
    color_ = color;
    update();
}

void LiveWaveform::setOpacity(double opacity)
{
    if (opacity_ == opacity)
        return;
    opacity_ = opacity;
    update();
}

void LiveWaveform::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(opacity_);
    constexpr double barWidth = 2.5;
    constexpr double spacing = 2.0;
    const auto heights = barHeights();
    const double total = 5 * barWidth + 4 * spacing;
    double x = (width() - total) / 2.0;
    for (double h : heights) {
        painter.fillPath(capsule(QRectF(x, (height() - h) / 2.0, barWidth, h)), color_);
        x += barWidth + spacing;
    }
}

}  // namespace parlaro::ui
