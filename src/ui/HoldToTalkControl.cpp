#include "ui/HoldToTalkControl.h"

#include "ui/Glow.h"
#include "ui/HoldButton.h"
#include "ui/Icons.h"
#include "ui/LiveWaveform.h"
#include "ui/Look.h"
#include "ui/Motion.h"
#include "ui/Palette.h"
#include "ui/Text.h"
#include "ui/WidgetUpdates.h"

#include <QEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QVariantAnimation>

namespace parlaro::ui {

namespace {
constexpr int iconSize = 18;
constexpr int recordingAnimationMs = 150;

QColor mix(const QColor& from, const QColor& to, double t)
{
    return QColor::fromRgbF(static_cast<float>(from.redF() + (to.redF() - from.redF()) * t),
                            static_cast<float>(from.greenF() + (to.greenF() - from.greenF()) * t),
                            static_cast<float>(from.blueF() + (to.blueF() - from.blueF()) * t));
}
constexpr double rowSpacing = 8.0;
constexpr double recordingScale = 1.03;
}  // namespace

HoldToTalkControl::HoldToTalkControl(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    animation_ = new QVariantAnimation(this);
    animation_->setDuration(recordingAnimationMs);
    animation_->setEasingCurve(QEasingCurve::OutQuad);
    connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        recordingProgress_ = value.toDouble();
        update();
    });
    button_ = new HoldButton(this);
    button_->setObjectName(QStringLiteral("holdToTalk.button"));
    Icons::tag(this, QStringLiteral("mic.fill"));
    // Follows the interface language by itself.
    texts_ = std::make_unique<ViewBinding>([this] { updateTexts(); });
    layoutContent();
}

HoldToTalkControl::~HoldToTalkControl()
{
    // The hold ends while the control is still whole.
    button_->endHold(true);
}

void HoldToTalkControl::setTitle(const QString& title)
{
    if (title_ == title)
        return;
    title_ = title;
    updateTexts();
    layoutContent();
    update();
}

void HoldToTalkControl::setRecording(bool recording)
{
    if (recording_ == recording)
        return;
    recording_ = recording;
    animation_->stop();
    const double target = recording_ ? 1.0 : 0.0;
    if (Motion::enabled() && isVisible()) {
        animation_->setStartValue(recordingProgress_);
        animation_->setEndValue(target);
        animation_->start();
    } else {
        recordingProgress_ = target;
    }
    if (!liveLevel_)
        Icons::tag(this, recording_ ? QStringLiteral("waveform") : QStringLiteral("mic.fill"));
    update();
}

void HoldToTalkControl::setHoldEnabled(bool enabled)
{
    if (enabled_ == enabled)
        return;
    enabled_ = enabled;
    updates::setEnabled(button_, enabled);
    layoutContent();
    update();
}

void HoldToTalkControl::setShortcut(std::optional<QString> shortcut)
{
    if (shortcut_ == shortcut)
        return;
    shortcut_ = std::move(shortcut);
    layoutContent();
    update();
}

void HoldToTalkControl::setWhileHolding(bool whileHolding)
{
    if (whileHolding_ == whileHolding)
        return;
    whileHolding_ = whileHolding;
    updateTexts();
}

void HoldToTalkControl::setLiveLevel(std::shared_ptr<AudioMeters> meters)
{
    if (liveLevel_ == meters)
        return;
    liveLevel_ = std::move(meters);
    delete waveform_;
    waveform_ = nullptr;
    if (liveLevel_) {
        waveform_ = new LiveWaveform(liveLevel_, this);
        waveform_->setObjectName(QStringLiteral("holdToTalk.waveform"));
        waveform_->show();
        button_->raise();
        Icons::tag(this, QString());
    } else {
        Icons::tag(this, recording_ ? QStringLiteral("waveform") : QStringLiteral("mic.fill"));
    }
    layoutContent();
    update();
}

void HoldToTalkControl::setCallbacks(std::function<void()> onDown, std::function<void()> onUp,
                                     std::function<void()> onCancel)
{
    button_->onDown = std::move(onDown);
    button_->onUp = std::move(onUp);
    button_->onCancel = std::move(onCancel);
}

void HoldToTalkControl::setAppActivity(AppActivity* activity)
{
    button_->setAppActivity(activity);
}

void HoldToTalkControl::updateTexts()
{
    updates::setToolTip(button_,
                        whileHolding_
                            ? q(localized("按住说话，每说完一句自动翻译并播放；Esc 取消。也可聚焦后按住空格键。"))
                            : q(localized("按住说话，松开自动翻译并播放；Esc 取消。也可聚焦后按住空格键。")));
    updates::setAccessibleName(button_, title_);
}

QRect HoldToTalkControl::capsuleRect() const
{
    return rect().adjusted(glowRoom, glowRoom, -glowRoom, -glowRoom);
}

HoldToTalkControl::Row HoldToTalkControl::row() const
{
    const QRectF body = capsuleRect();
    const QFontMetricsF titleMetrics(Look::font(16, QFont::DemiBold));
    const QFontMetricsF chipMetrics(Look::font(11, QFont::DemiBold));
    const QSizeF icon = waveform_ ? QSizeF(20, 16) : QSizeF(iconSize, iconSize);
    const QSizeF title(titleMetrics.horizontalAdvance(title_), titleMetrics.height());
    QSizeF chip;
    if (shortcut_)
        chip = QSizeF(chipMetrics.horizontalAdvance(*shortcut_) + 12, chipMetrics.height() + 4);
    double total = icon.width() + rowSpacing + title.width() + (shortcut_ ? rowSpacing + chip.width() : 0.0);
    const double cy = body.center().y();
    double x = body.center().x() - total / 2.0;
    Row row;
    row.icon = QRectF(QPointF(x, cy - icon.height() / 2.0), icon);
    x += icon.width() + rowSpacing;
    row.title = QRectF(QPointF(x, cy - title.height() / 2.0), title);
    x += title.width() + rowSpacing;
    if (shortcut_)
        row.chip = QRectF(QPointF(x, cy - chip.height() / 2.0), chip);
    if (layoutDirection() == Qt::RightToLeft) {
        auto mirror = [&](QRectF& r) {
            if (!r.isNull())
                r.moveLeft(2 * body.center().x() - r.right());
        };
        mirror(row.icon);
        mirror(row.title);
        mirror(row.chip);
    }
    return row;
}

void HoldToTalkControl::layoutContent()
{
    button_->setGeometry(capsuleRect());
    if (waveform_) {
        waveform_->move(row().icon.topLeft().toPoint());
        waveform_->setOpacity(enabled_ || recording_ ? 1.0 : 0.45);
    }
}

void HoldToTalkControl::resizeEvent(QResizeEvent*)
{
    layoutContent();
}

void HoldToTalkControl::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LayoutDirectionChange) {
        layoutContent();
        update();
    }
    QWidget::changeEvent(event);
}

void HoldToTalkControl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setOpacity(enabled_ || recording_ ? 1.0 : 0.45);
    const QRectF body = capsuleRect();
    // Between rest and recording while the change eases in.
    const double t = recordingProgress_;
    const double scale = 1.0 + (recordingScale - 1.0) * t;
    painter.translate(body.center());
    painter.scale(scale, scale);
    painter.translate(-body.center());
    const auto shape = capsule(body);
    const double restStrength = enabled_ ? 0.4 : 0.0;
    const double strength = restStrength + (0.75 - restStrength) * t;
    const double radius = 14.0 + (26.0 - 14.0) * t;
    paintGlow(painter, body, body.height() / 2.0, mix(Palette::violet(), Palette::violetAlt(), t), strength, radius);

    const bool rtl = layoutDirection() == Qt::RightToLeft;
    QLinearGradient gradient(rtl ? body.topRight() : body.topLeft(), rtl ? body.topLeft() : body.topRight());
    gradient.setColorAt(0.0, mix(Palette::violet(), Palette::violetAlt(), t));
    gradient.setColorAt(1.0, mix(Palette::coral(), Palette::violet(), t));
    painter.fillPath(shape, gradient);

    const Row parts = row();
    if (!waveform_) {
        auto symbol = recording_ ? QStringLiteral("waveform") : QStringLiteral("mic.fill");
        painter.drawPixmap(parts.icon.topLeft(),
                           Icons::pixmap(symbol, Palette::white(), iconSize, devicePixelRatioF()));
    }
    painter.setPen(Palette::white());
    painter.setFont(Look::font(16, QFont::DemiBold));
    painter.drawText(parts.title, Qt::AlignCenter | Qt::TextSingleLine, title_);
    if (shortcut_) {
        painter.fillPath(capsule(parts.chip), Palette::withOpacity(Palette::white(), 0.22));
        painter.setFont(Look::font(11, QFont::DemiBold));
        painter.drawText(parts.chip, Qt::AlignCenter | Qt::TextSingleLine, *shortcut_);
    }
}

}  // namespace parlaro::ui
