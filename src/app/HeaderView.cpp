#include "app/HeaderView.h"

#include "app/HeaderBadge.h"
#include "app/LanguageBar.h"
#include "app/SymbolPill.h"
#include "model/AppModel.h"
#include "speech/Localization.h"
#include "ui/Accessibility.h"
#include "ui/LanguagePicker.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/SymbolView.h"
#include "ui/SystemSettings.h"
#include "ui/Text.h"
#include "ui/ViewBinding.h"
#include "ui/WidgetUpdates.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QPushButton>

#include <algorithm>

namespace parlaro::app {

using ui::q;
namespace updates = ui::updates;

namespace {

class AttentionDot : public QWidget {
public:
    explicit AttentionDot(QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("header.attention"));
        setFixedSize(HeaderView::attentionDiameter, HeaderView::attentionDiameter);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        ui::Accessibility::setRole(this, QAccessible::StaticText);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(ui::Palette::alertRed());
        painter.drawEllipse(QRectF(rect()));
    }
};

// A flat button sized by what its layout holds.
class LinkButton : public QPushButton {
public:
    using QPushButton::QPushButton;
    QSize sizeHint() const override { return layout() ? layout()->sizeHint() : QPushButton::sizeHint(); }
    QSize minimumSizeHint() const override
    {
        return layout() ? layout()->minimumSize() : QPushButton::minimumSizeHint();
    }
};

}  // namespace

HeaderView::HeaderView(std::shared_ptr<AppModel> model, Attention attention, QWidget* parent)
    : QWidget(parent), model_(std::move(model)), attention_(std::move(attention))
{
    setObjectName(QStringLiteral("header"));
    setFixedHeight(barHeight);
    auto* row = new QHBoxLayout(this);
    // The layout mirrors these margins right to left by itself.
    row->setContentsMargins(leadingPadding, topPadding, trailingPadding, 0);
    row->setSpacing(spacing);

    languageBar_ = new LanguageBar(model_, this);
    row->addWidget(languageBar_, 0, Qt::AlignVCenter);
    row->addStretch(1);

    listening_ = new HeaderBadge(this);
    listening_->setObjectName(QStringLiteral("header.listening"));
    row->addWidget(listening_, 0, Qt::AlignVCenter);

    captureLink_ = new LinkButton(this);
    captureLink_->setObjectName(QStringLiteral("header.captureLink"));
    captureLink_->setFlat(true);
    captureLink_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    captureLink_->setCursor(Qt::PointingHandCursor);
    auto* link = new QHBoxLayout(captureLink_);
    link->setContentsMargins(0, 0, 0, 0);
    captureBadge_ = new HeaderBadge(captureLink_);
    captureBadge_->setObjectName(QStringLiteral("header.captureLink.badge"));
    QLabel* captureText = captureBadge_->label();
    captureText->setObjectName(QStringLiteral("header.captureLink.text"));
    captureText->setFont(ui::Look::font(12, QFont::Medium));
    updates::setTextColor(captureText, ui::Palette::alertRed());
    captureBadge_->addTrailing(
        new ui::SymbolView(QStringLiteral("arrow.up.forward.app"), ui::Palette::alertRed(), 11, captureBadge_));
    captureBadge_->setAttribute(Qt::WA_TransparentForMouseEvents);
    link->addWidget(captureBadge_);
    row->addWidget(captureLink_, 0, Qt::AlignVCenter);
    // Nothing changes in the model: coming back to the window refreshes the
    // permission and retries listening.
    connect(captureLink_, &QPushButton::clicked, this, [] { ui::SystemSettings::shared().open(capturePane); });

    device_ = new HeaderBadge(this);
    device_->setObjectName(QStringLiteral("header.device"));
    row->addWidget(device_, 0, Qt::AlignVCenter);
    ownVoice_ = new HeaderBadge(this);
    ownVoice_->setObjectName(QStringLiteral("header.ownVoice"));
    row->addWidget(ownVoice_, 0, Qt::AlignVCenter);

    settings_ = new SymbolPill(QStringLiteral("gearshape"), QString(), this);
    settings_->setObjectName(QStringLiteral("header.settings"));
    settings_->setTint(ui::Palette::violet());
    settings_->setActive(false);
    row->addWidget(settings_, 0, Qt::AlignVCenter);
    settings_->installEventFilter(this);
    connect(settings_, &QPushButton::clicked, this, [this] { openSettings(); });

    dot_ = new AttentionDot(this);
    dot_->hide();
    row_ = row;

    binding_ = std::make_unique<ui::ViewBinding>([this] { refresh(); });
}

HeaderView::~HeaderView()
{
    binding_.reset();
}

SettingsPage HeaderView::settingsTarget() const
{
    auto page = attention_ ? attention_() : std::nullopt;
    return page.value_or(SettingsPage::general);
}

void HeaderView::openSettings()
{
    model_->openSettings(settingsTarget());
}

void HeaderView::refresh()
{
    // Listening, or the way to let the far end be recorded. A server that
    // does not answer hears nothing, whatever listening was started: the
    // device badge says so, and the listening badge says nothing until the
    // server answers again.
    const bool missing = model_->audioCaptureMissing();
    const bool listening = model_->isListening();
    const auto listeningText = listening ? localized("正在听对方")
        : model_->isChangingListening()  ? localized("正在切换…")
                                         : localized("未在收听");
    listening_->setState(listening ? ui::Palette::coral() : ui::Palette::amber(), q(listeningText));
    updates::setVisible(listening_, !missing && !model_->audioServerSilent());
    const QString captureText = q(localized("听不到对方：需要授权"));
    if (captureBadge_->text() != captureText)
        captureLink_->updateGeometry();
    captureBadge_->setState(ui::Palette::alertRed(), captureText);
    updates::setAccessibleName(captureLink_, captureText);
    updates::setToolTip(captureLink_, q(localized("点击打开系统设置，在「屏幕与系统录音 › 仅系统录音」里允许本软件")));
    updates::setVisible(captureLink_, missing);

    // The virtual device counts only with both of its halves. Without a
    // sound server no device can be seen, which says nothing about whether
    // it is installed; a server held still says nothing either, whether it
    // is being reached or was answering. Until a server slow to answer at
    // start has had its moment, nothing is said at all.
    if (model_->audioServerSilent())
        device_->setState(ui::Palette::amber(), q(localized("声音服务器没有响应")));
    else if (model_->audioServerLost())
        device_->setState(ui::Palette::amber(), q(localized("声音服务器不可用")));
    else if (model_->virtualMicStatus())
        device_->setState(ui::Palette::violet(), q(localized("wenmora 音频设备已安装")));
    else
        device_->setState(ui::Palette::amber(), q(localized("未安装 wenmora 音频设备")));
    updates::setVisible(device_, !model_->audioServerAwaited());

    if (model_->originalVoiceOn())
        ownVoice_->setState(ui::Palette::violetAlt(), q(localized("原声：开")));
    else
        ownVoice_->setState(ui::Look::secondaryText(), q(localized("原声：关")));

    updates::setText(settings_, q(localized("设置")));
    updates::setToolTip(settings_, q(localized("设置（⌘,）")));
    const bool attention = attention_ && attention_().has_value();
    updates::setVisible(dot_, attention);
    // The dot says it in red; the button the focus reaches says it in words.
    const QString attentionText = q(localized("需要注意"));
    updates::setAccessibleName(dot_, attentionText);
    updates::setAccessibleDescription(settings_, attention ? attentionText : QString());
    placeDot();
    fitBadges();
}

void HeaderView::fitBadges()
{
    if (fitting_)
        return;
    fitting_ = true;
    // The row's width is read from its parts' sizes as last laid out: what
    // changed is laid out at once and weighed again, so the parts shown
    // are never those of an older width.
    for (int pass = 0; pass < 3 && fitRow(); ++pass) {
        if (QLayout* bar = languageBar_->layout())
            bar->activate();
        row_->invalidate();
        row_->activate();
    }
    fitting_ = false;
}

bool HeaderView::fitRow()
{
    // Short of room the parts first stand closer, the language pickers
    // become as narrow as their names, then the device badge gives way,
    // then the settings button shows its gear alone (its word stays in its
    // tooltip and its name), then listening (or the link in its place), and
    // the own-voice state last: the two a user glances at during a call
    // stay readable longest. A window of a 1024 px screen keeps the
    // settings button's word in every language.
    HeaderBadge* const order[] = {device_, model_->audioCaptureMissing() ? captureBadge_ : listening_, ownVoice_};
    // What the row needs with every part whole: its width as laid out now,
    // less what the parts ask for now.
    int gaps = -1;
    for (int index = 0; index < row_->count(); ++index)
        if (QWidget* part = row_->itemAt(index)->widget(); part && !part->isHidden())
            ++gaps;
    gaps = std::max(gaps, 0);
    int needed = row_->sizeHint().width() + (spacing - row_->spacing()) * gaps;
    needed += settings_->fullWidth() - settings_->sizeHint().width();
    for (HeaderBadge* badge : order)
        if (!badge->isHidden())
            needed += badge->fullWidth() - badge->sizeHint().width();
    ui::LanguagePicker* const pickers[] = {qobject_cast<ui::LanguagePicker*>(languageBar_->myPicker()),
                                           qobject_cast<ui::LanguagePicker*>(languageBar_->theirPicker())};
    for (ui::LanguagePicker* picker : pickers)
        if (picker)
            needed += picker->fullWidth() - picker->sizeHint().width();
    bool changed = false;
    const bool tight = needed > width();
    if (tight)
        needed -= (spacing - tightSpacing) * gaps;
    if (row_->spacing() != (tight ? tightSpacing : spacing)) {
        row_->setSpacing(tight ? tightSpacing : spacing);
        changed = true;
    }
    const bool snug = needed > width();
    for (ui::LanguagePicker* picker : pickers) {
        if (!picker)
            continue;
        if (snug)
            needed -= picker->fullWidth() - picker->snugWidth();
        changed = changed || picker->isSnug() != snug;
        picker->setSnug(snug);
    }
    auto giveWay = [&](HeaderBadge* badge) {
        if (badge->isHidden())
            return;
        const bool compact = needed > width();
        if (compact)
            needed -= badge->fullWidth() - badge->compactWidth();
        if (badge->isCompact() != compact) {
            changed = true;
            badge->setCompact(compact);
            if (badge == captureBadge_)
                captureLink_->updateGeometry();
        }
    };
    giveWay(order[0]);
    const bool gear = needed > width();
    if (gear)
        needed -= settings_->fullWidth() - settings_->compactWidth();
    changed = changed || settings_->isCompact() != gear;
    settings_->setCompact(gear);
    giveWay(order[1]);
    giveWay(order[2]);
    return changed;
}

void HeaderView::placeDot()
{
    if (!dot_ || dot_->isHidden())
        return;
    // At the capsule's top-trailing corner, reaching a little past it.
    const QRect capsule = settings_->capsuleRect().translated(settings_->pos());
    const int d = attentionDiameter;
    const int x = layoutDirection() == Qt::RightToLeft ? capsule.left() - attentionOffset
                                                       : capsule.right() + 1 - d + attentionOffset;
    const QPoint at(x, capsule.top() - attentionOffset);
    if (dot_->pos() != at)
        dot_->move(at);
    dot_->raise();
}

bool HeaderView::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    // A part of the row asked for another width (a picker took a longer
    // name, a badge a longer text): the badges are fitted again.
    if (event->type() == QEvent::LayoutRequest)
        fitBadges();
    return handled;
}

void HeaderView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fitBadges();
}

bool HeaderView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == settings_ && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        placeDot();
    return QWidget::eventFilter(watched, event);
}

void HeaderView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LayoutDirectionChange)
        placeDot();
}

}  // namespace parlaro::app
