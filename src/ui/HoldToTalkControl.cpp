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
#include <QMouseEvent>
#include <QPainter>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

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
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    animation_ = new QVariantAnimation(this);
    animation_->setDuration(recordingAnimationMs);
    animation_->setEasingCurve(QEasingCurve::OutQuad);
    connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        recordingProgress_ = value.toDouble();
        update();
    });
    button_ = new HoldButton(this);
    button_->setObjectName(QStringLiteral("holdToTalk.button"));
    button_->installEventFilter(this);
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
    updateGeometry();
    layoutContent();
    update();
}

void HoldToTalkControl::setMaxCapsuleWidth(int width)
{
    width = std::max(width, static_cast<int>(minCapsuleWidth));
    if (maxCapsuleWidth_ == width)
        return;
    maxCapsuleWidth_ = width;
    updateGeometry();
}

void HoldToTalkControl::setReservedTitles(const QStringList& titles)
{
    if (reservedTitles_ == titles)
        return;
    reservedTitles_ = titles;
    updateGeometry();
}

QSize HoldToTalkControl::sizeHint() const
{
    return sizeFor({wantedCapsuleWidth(), capsuleHeight});
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
        Icons::tag(this, symbol());
    update();
}

void HoldToTalkControl::setHoldEnabled(bool enabled)
{
    if (enabled_ == enabled)
        return;
    enabled_ = enabled;
    button_->setHoldEnabled(enabled);
    layoutContent();
    update();
}

void HoldToTalkControl::setShortcut(std::optional<QString> shortcut)
{
    if (shortcut_ == shortcut)
        return;
    shortcut_ = std::move(shortcut);
    updateGeometry();
    layoutContent();
    update();
}

void HoldToTalkControl::setUnavailable(std::optional<QString> why)
{
    if (unavailable_ == why)
        return;
    unavailable_ = std::move(why);
    if (!liveLevel_)
        Icons::tag(this, symbol());
    updateTexts();
    update();
}

QString HoldToTalkControl::symbol() const
{
    if (recording_)
        return QStringLiteral("waveform");
    return unavailable_ ? QStringLiteral("mic.slash") : QStringLiteral("mic.fill");
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
        Icons::tag(this, symbol());
    }
    updateGeometry();
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

void HoldToTalkControl::setOnRefusedPress(std::function<void()> onRefusedPress)
{
    onRefusedPress_ = std::move(onRefusedPress);
    button_->onRefusedPress = onRefusedPress_;
}

void HoldToTalkControl::setAppActivity(AppActivity* activity)
{
    button_->setAppActivity(activity);
}

void HoldToTalkControl::setOwnShortcutHeld(std::function<bool()> held)
{
    button_->setOwnShortcutHeld(std::move(held));
}

void HoldToTalkControl::updateTexts()
{
    QString tip = whileHolding_ ? q(localized("按住说话，每说完一句自动翻译并播放；Esc 取消。也可聚焦后按住空格键。"))
                                : q(localized("按住说话，松开自动翻译并播放；Esc 取消。也可聚焦后按住空格键。"));
    // A control that cannot take a hold explains that instead of how to hold.
    if (unavailable_)
        tip = *unavailable_;
    // A title cut short is read in full from the tooltip.
    if (QString(shownTitle_).remove(QLatin1Char('\n')) != title_)
        tip = title_ + QLatin1Char('\n') + tip;
    updates::setToolTip(button_, tip);
    updates::setAccessibleName(button_, title_);
}

namespace {

// Where words are not spaced (Japanese) a line may break between any two
// characters, which cuts a word ("認識できま|せん"): such a title breaks after
// a particle or a mark that ends a phrase, the two lines as even as they can
// be. Unchanged where it has spaces or no such place; none where no such
// place fits.
std::optional<QString> phraseBroken(const QString& title, const QFont& font, double room)
{
    // The topic and object particles, which stand almost only as particles.
    static const QString phraseEnds = QStringLiteral("はを、。，");
    bool anyPlace = false;
    for (qsizetype i = 0; i + 1 < title.size(); ++i)
        anyPlace = anyPlace || phraseEnds.contains(title[i]);
    if (title.contains(QLatin1Char(' ')) || !anyPlace)
        return title;
    const QFontMetricsF metrics(font);
    int best = -1;
    double bestLonger = 0;
    for (qsizetype i = 1; i < title.size(); ++i) {
        if (!phraseEnds.contains(title[i - 1]))
            continue;
        const double first = metrics.horizontalAdvance(title.left(i));
        const double second = metrics.horizontalAdvance(title.mid(i));
        const double longer = std::max(first, second);
        if (longer <= room && (best < 0 || longer < bestLonger)) {
            best = static_cast<int>(i);
            bestLonger = longer;
        }
    }
    if (best < 0)
        return std::nullopt;
    return title.left(best) + QLatin1Char('\n') + title.mid(best);
}

QSizeF chipSize(const QString& text)
{
    const QFontMetricsF metrics(Look::font(11, QFont::DemiBold));
    return {metrics.horizontalAdvance(text) + 12, metrics.height() + 4};
}

}  // namespace

int HoldToTalkControl::wantedCapsuleWidth() const
{
    const QFontMetricsF metrics(Look::font(titleSize, QFont::DemiBold));
    auto width = [&](const QString& text) {
        return metrics.boundingRect(QRectF(0, 0, 100000, 1000), Qt::TextSingleLine, text).width();
    };
    double widest = width(title_);
    for (const QString& title : reservedTitles_)
        widest = std::max(widest, width(title));
    const double icon = waveform_ ? 20.0 : iconSize;
    double content = icon + rowSpacing + widest;
    if (shortcut_)
        content += rowSpacing + chipSize(*shortcut_).width();
    const int wanted = static_cast<int>(std::ceil(content + 2 * inset));
    return std::clamp(wanted, minCapsuleWidth, maxCapsuleWidth_);
}

int HoldToTalkControl::leastWholeCapsuleWidth() const
{
    // A smaller font is never wider, so a title that is whole at all is
    // whole at the least size, on one line or on two.
    auto whole = [](const QString& title, double room) {
        const QFont font = Look::font(minTitleSize, QFont::DemiBold);
        const QFontMetricsF metrics(font);
        if (metrics.boundingRect(QRectF(0, 0, 100000, 1000), Qt::TextSingleLine, title).width() <= room)
            return true;
        const std::optional<QString> broken = phraseBroken(title, font, room);
        if (!broken)
            return false;
        const QRectF used =
            metrics.boundingRect(QRectF(0, 0, room, 1000), Qt::AlignHCenter | Qt::TextWordWrap, *broken);
        return used.width() <= room && used.height() <= capsuleHeight - 2 * titleMargin;
    };
    auto allWhole = [&](int capsule) {
        const double room = titleRoom(capsule);
        if (!whole(title_, room))
            return false;
        for (const QString& title : reservedTitles_)
            if (!whole(title, room))
                return false;
        return true;
    };
    int low = minCapsuleWidth;
    if (allWhole(low))
        return low;
    // One line at the least size always fits a wide enough capsule.
    int high = std::max(low + 1, wantedCapsuleWidth());
    while (!allWhole(high))
        high *= 2;
    while (high - low > 1) {
        const int middle = (low + high) / 2;
        (allWhole(middle) ? high : low) = middle;
    }
    return high;
}

double HoldToTalkControl::titleRoom() const
{
    return titleRoom(capsuleRect().width());
}

double HoldToTalkControl::titleRoom(double capsule) const
{
    const double icon = waveform_ ? 20.0 : iconSize;
    double room = capsule - 2 * inset - icon - rowSpacing;
    if (shortcut_)
        room -= rowSpacing + chipSize(*shortcut_).width();
    return std::max(room, 0.0);
}

void HoldToTalkControl::fitTitle()
{
    const double room = titleRoom();
    // The drawn extent, not the advance: scripts with marks above and below
    // (Thai) stand taller than the font's own height.
    auto extent = [](const QFont& font, const QString& text) {
        return QFontMetricsF(font).boundingRect(QRectF(0, 0, 100000, 1000), Qt::TextSingleLine, text).size();
    };
    auto fitsOneLine = [&](double size) {
        QFont font = Look::font(size, QFont::DemiBold);
        const QSizeF used = extent(font, title_);
        if (used.width() > room)
            return false;
        titleFont_ = font;
        shownTitle_ = title_;
        titleFlags_ = Qt::TextSingleLine;
        titleExtent_ = used;
        return true;
    };
    auto fitsTwoLines = [&](double size) {
        QFont font = Look::font(size, QFont::DemiBold);
        const std::optional<QString> broken = phraseBroken(title_, font, room);
        if (!broken)
            return false;
        const QString shown = *broken;
        const QRectF used =
            QFontMetricsF(font).boundingRect(QRectF(0, 0, room, 1000), Qt::AlignHCenter | Qt::TextWordWrap, shown);
        if (used.width() > room || used.height() > capsuleHeight - 2 * titleMargin)
            return false;
        titleFont_ = font;
        shownTitle_ = shown;
        titleFlags_ = Qt::TextWordWrap;
        // All the room, so the lines break where they were measured.
        titleExtent_ = QSizeF(room, used.height());
        return true;
    };
    // The whole title on one line a pixel smaller at a time, then on two
    // lines, and only then cut.
    for (double size = titleSize; size > minTitleSize; size -= 1.0)
        if (fitsOneLine(size))
            return;
    for (double size = twoLineTitleSize; size >= minTitleSize; size -= 1.0)
        if (fitsTwoLines(size))
            return;
    if (fitsOneLine(minTitleSize))
        return;
    titleFont_ = Look::font(minTitleSize, QFont::DemiBold);
    // The advance the cut is measured by may fall a pixel short of the extent.
    shownTitle_ = QFontMetricsF(titleFont_).elidedText(title_, Qt::ElideRight, std::max(room - 2, 0.0));
    titleFlags_ = Qt::TextSingleLine;
    titleExtent_ = extent(titleFont_, shownTitle_);
    titleExtent_.setWidth(std::min(titleExtent_.width(), room));
}

QRect HoldToTalkControl::capsuleRect() const
{
    return rect().adjusted(glowRoom, glowRoom, -glowRoom, -glowRoom);
}

HoldToTalkControl::Row HoldToTalkControl::row() const
{
    const QRectF body = capsuleRect();
    const QSizeF icon = waveform_ ? QSizeF(20, 16) : QSizeF(iconSize, iconSize);
    const QSizeF title = titleExtent_;
    QSizeF chip;
    if (shortcut_)
        chip = chipSize(*shortcut_);
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
    fitTitle();
    updateTexts();
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

bool HoldToTalkControl::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == button_ && event->type() == QEvent::MouseButtonPress && !button_->isHoldEnabled()
        && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && onRefusedPress_) {
        onRefusedPress_();
        return true;
    }
    return QWidget::eventFilter(watched, event);
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
    // The resting glow fades into the recording one: a glow whose colour
    // and size changed on every frame would be blurred anew on each, on the
    // main thread, just when a release sends the speech on its way.
    const double restStrength = enabled_ ? 0.4 : 0.0;
    paintGlow(painter, body, body.height() / 2.0, Palette::violet(), restStrength * (1.0 - t), 14.0);
    paintGlow(painter, body, body.height() / 2.0, Palette::violetAlt(), 0.75 * t, 26.0);

    const bool rtl = layoutDirection() == Qt::RightToLeft;
    QLinearGradient gradient(rtl ? body.topRight() : body.topLeft(), rtl ? body.topLeft() : body.topRight());
    gradient.setColorAt(0.0, mix(Palette::violet(), Palette::violetAlt(), t));
    gradient.setColorAt(1.0, mix(Palette::coral(), Palette::violet(), t));
    painter.fillPath(shape, gradient);

    const Row parts = row();
    if (!waveform_) {
        painter.drawPixmap(parts.icon.topLeft(),
                           Icons::pixmap(symbol(), Palette::white(), iconSize, devicePixelRatioF()));
    }
    painter.setPen(Palette::white());
    painter.setFont(titleFont_);
    painter.drawText(parts.title, Qt::AlignCenter | titleFlags_, shownTitle_);
    if (shortcut_) {
        painter.fillPath(capsule(parts.chip), Palette::withOpacity(Palette::white(), 0.22));
        painter.setFont(Look::font(11, QFont::DemiBold));
        painter.drawText(parts.chip, Qt::AlignCenter | Qt::TextSingleLine, *shortcut_);
    }
}

}  // namespace parlaro::ui
