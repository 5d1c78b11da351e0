#include "app/CompactMeter.h"

#include "audio/AudioMeters.h"
#include "ui/Glow.h"
#include "ui/LevelMeterBar.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/SymbolView.h"
#include "ui/WidgetUpdates.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace parlaro::app {

using namespace ui;

CompactMeter::CompactMeter(const QString& symbol, const QString& title, std::shared_ptr<AudioMeters> meters,
                           MeterRow::Source source, QWidget* parent)
    : QWidget(parent), meters_(std::move(meters)), source_(source)
{
    const QColor tint = source_ == MeterRow::Source::virtualDevice ? Palette::violet() : Palette::coral();
    auto* row = new QHBoxLayout(this);
    int m = glowMargin(LevelMeterBar::glowRadius);
    row->setContentsMargins(0, 0, m, 0);
    row->setSpacing(6);
    icon_ = new SymbolView(symbol, Look::secondaryText(), 10, this);
    icon_->setObjectName(QStringLiteral("compactMeter.icon"));
    icon_->setFixedWidth(12);
    title_ = new QLabel(title, this);
    title_->setObjectName(QStringLiteral("compactMeter.title"));
    title_->setFont(Look::font(11));
    updates::setTextColor(title_, Look::secondaryText());
    bar_ = new LevelMeterBar(tint, this);
    bar_->setObjectName(QStringLiteral("compactMeter.bar"));
    bar_->setFixedWidth(72);
    bar_->setGlowHost(this);
    bar_->setAccessibleName(title);
    row->addWidget(icon_);
    row->addWidget(title_);
    row->addWidget(bar_);
    auto* fade = new QGraphicsOpacityEffect(this);
    fade->setOpacity(dimmed);
    setGraphicsEffect(fade);
    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

CompactMeter::~CompactMeter() = default;

void CompactMeter::setLive(bool live)
{
    if (live_ == live)
        return;
    live_ = live;
    static_cast<QGraphicsOpacityEffect*>(graphicsEffect())->setOpacity(live ? 1.0 : dimmed);
}

void CompactMeter::setTitle(const QString& title)
{
    updates::setText(title_, title);
    updates::setAccessibleName(bar_, title);
}

double CompactMeter::opacity() const
{
    return static_cast<QGraphicsOpacityEffect*>(graphicsEffect())->opacity();
}

void CompactMeter::refresh()
{
    float level = source_ == MeterRow::Source::virtualDevice ? meters_->virtualLevel() : meters_->micLevel();
    bar_->setLevel(level);
    QColor color = level > MeterRow::soundThreshold ? Palette::textColor(bar_->tint()) : Look::secondaryText();
    if (icon_->color() != color)
        icon_->setColor(color);
}

void CompactMeter::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    bar_->paintGlow(painter);
}

}  // namespace parlaro::app
