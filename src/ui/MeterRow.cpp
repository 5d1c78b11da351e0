#include "ui/MeterRow.h"

#include "audio/AudioMeters.h"
#include "ui/Glow.h"
#include "ui/LevelMeterBar.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/Text.h"
#include "ui/WidgetUpdates.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace parlaro::ui {

MeterRow::MeterRow(const QString& title, std::shared_ptr<AudioMeters> meters, Source source, QWidget* parent)
    : QWidget(parent), meters_(std::move(meters)), source_(source)
{
    const QColor tint = source_ == Source::virtualDevice ? Palette::violet() : Palette::coral();
    auto* column = new QVBoxLayout(this);
    // Room for the bar's glow, which this row paints.
    int m = glowMargin(LevelMeterBar::glowRadius);
    column->setContentsMargins(m, 0, m, m);
    column->setSpacing(5);
    auto* line = new QHBoxLayout();
    line->setContentsMargins(0, 0, 0, 0);
    title_ = new QLabel(title, this);
    title_->setObjectName(QStringLiteral("meterRow.title"));
    title_->setFont(Look::font(12));
    state_ = new QLabel(this);
    state_->setObjectName(QStringLiteral("meterRow.state"));
    line->addWidget(title_);
    line->addStretch(1);
    line->addWidget(state_);
    column->addLayout(line);
    bar_ = new LevelMeterBar(tint, this);
    bar_->setObjectName(QStringLiteral("meterRow.bar"));
    bar_->setGlowHost(this);
    bar_->setAccessibleName(title);
    column->addWidget(bar_);
    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

MeterRow::~MeterRow() = default;

void MeterRow::setTitle(const QString& title)
{
    updates::setText(title_, title);
    updates::setAccessibleName(bar_, title);
}

void MeterRow::refresh()
{
    float level = source_ == Source::virtualDevice ? meters_->virtualLevel() : meters_->micLevel();
    bar_->setLevel(level);
    bool sound = level > soundThreshold;
    const QString word = sound ? q(localized("有声音")) : q(localized("安静"));
    if (state_->text() != word) {
        state_->setFont(Look::monospacedFont(word, 10));
        state_->setText(word);
    }
    updates::setTextColor(state_, sound ? Palette::textColor(bar_->tint()) : Look::secondaryText());
}

void MeterRow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    bar_->paintGlow(painter);
}

}  // namespace parlaro::ui
