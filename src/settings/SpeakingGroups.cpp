#include "settings/SpeakingGroups.h"

#include "settings/SheetParts.h"
#include "settings/Shown.h"

#include "model/AppModel.h"
#include "model/ModelTask.h"
#include "ui/Accessibility.h"
#include "ui/GroupNotice.h"
#include "ui/Look.h"
#include "ui/MeterRow.h"
#include "ui/Palette.h"
#include "ui/PersistentSwitch.h"
#include "ui/PillButton.h"
#include "ui/RowDivider.h"
#include "ui/SidebarGroup.h"
#include "ui/SidebarRow.h"
#include "ui/SystemSettings.h"
#include "ui/Text.h"
#include "ui/ViewBinding.h"
#include "ui/WidgetUpdates.h"
#include "ui/WrappingRow.h"

#include <QButtonGroup>
#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <variant>

namespace parlaro::settings {

using namespace ui;

namespace {

PersistentSwitch* toggle(QWidget* parent, const char* name)
{
    auto* control = new PersistentSwitch(parent);
    control->setObjectName(QString::fromLatin1(name));
    control->setTint(Palette::violet());
    return control;
}

QPushButton* segment(QWidget* parent, const char* name)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setCheckable(true);
    // One of the two is always on: a screen reader offers them as such.
    Accessibility::setRole(button, QAccessible::RadioButton);
    button->setFont(Look::font(12));
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

// The two segments sit on one rounded track, the chosen one raised in white,
// so they read as one choice rather than two buttons. The shapes are
// symmetric, so right to left needs nothing of its own.
QFrame* segmentTrack(QWidget* parent, QPushButton* first, QPushButton* second)
{
    auto* track = new QFrame(parent);
    track->setObjectName(QStringLiteral("speaking.modeTrack"));
    auto* layout = new QHBoxLayout(track);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    first->setParent(track);
    second->setParent(track);
    layout->addWidget(first);
    layout->addWidget(second);
    const QString hairline = Palette::hairline().name(QColor::HexArgb);
    track->setStyleSheet(
        QStringLiteral("QFrame#speaking\\.modeTrack { background: %1; border: 1px solid %2; border-radius: 7px; }"
                       "QPushButton { background: transparent; border: 1px solid transparent; border-radius: 5px;"
                       " padding: 2px 10px; color: %3; }"
                       "QPushButton:checked { background: %4; border-color: %2; }"
                       "QPushButton:disabled { color: %5; }")
            .arg(Palette::paleGrey().name(QColor::HexArgb), hairline,
                 Palette::withOpacity(Look::primaryText(), 0.85).name(QColor::HexArgb),
                 Palette::white().name(QColor::HexArgb),
                 Palette::withOpacity(Look::primaryText(), 0.35).name(QColor::HexArgb)));
    return track;
}

}  // namespace

SpeakingGroups::SpeakingGroups(std::shared_ptr<AppModel> model, QWidget* parent)
    : QWidget(parent), model_(std::move(model))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);

    speaking_ = new SidebarGroup({}, this);
    QWidget* panel = speaking_->panel();
    auto* rows = speaking_->contentLayout();
    micRow_ = new SidebarRow({}, std::nullopt, panel);
    micCheck_ = new PillButton({}, micRow_);
    micCheck_->setObjectName(QStringLiteral("speaking.micCheck"));
    micCheck_->setTint(Palette::coral());
    micRow_->addTrailing(micCheck_);
    rows->addWidget(micRow_);
    connect(micCheck_, &QAbstractButton::clicked, this, [this] { model_->openMicCheck(); });

    rows->addWidget(new RowDivider(panel));
    ownVoiceRow_ = new SidebarRow({}, std::nullopt, panel);
    ownVoice_ = toggle(ownVoiceRow_, "speaking.ownVoice");
    ownVoiceRow_->addTrailing(ownVoice_);
    rows->addWidget(ownVoiceRow_);
    // The model owns the state: a click asks, and the switch goes on showing
    // the model's value until the model changes it.
    connect(ownVoice_, &QAbstractButton::clicked, this, [this](bool requested) {
        updates::setChecked(ownVoice_, model_->originalVoiceOn());
        spawnOnModel(model_, [requested](AppModel& model) { return model.setOriginalVoice(requested); });
    });

    rows->addWidget(new RowDivider(panel));
    modeRow_ = new SidebarRow({}, std::nullopt, panel);
    afterRelease_ = segment(modeRow_, "speaking.afterRelease");
    whileHolding_ = segment(modeRow_, "speaking.whileHolding");
    auto* segments = new QButtonGroup(modeRow_);
    segments->setExclusive(true);
    segments->addButton(afterRelease_);
    segments->addButton(whileHolding_);
    modeRow_->addTrailing(segmentTrack(modeRow_, afterRelease_, whileHolding_));
    rows->addWidget(modeRow_);
    connect(afterRelease_, &QAbstractButton::clicked, this, [this] { model_->setTranslateWhileHolding(false); });
    connect(whileHolding_, &QAbstractButton::clicked, this, [this] { model_->setTranslateWhileHolding(true); });

    freeDivider_ = new RowDivider(panel);
    rows->addWidget(freeDivider_);
    freeRow_ = new SidebarRow({}, std::nullopt, panel);
    free_ = toggle(freeRow_, "speaking.free");
    freeRow_->addTrailing(free_);
    rows->addWidget(freeRow_);
    connect(free_, &QAbstractButton::clicked, this, [this](bool requested) {
        updates::setChecked(free_, model_->freeListening());
        model_->freeListeningDidChange(requested);
    });
    layout->addWidget(speaking_);

    detection_ = new SidebarGroup({}, this);
    QWidget* checks = detection_->panel();
    auto* checkRows = detection_->contentLayout();
    permission_ = new GroupNotice({}, Palette::amber(), std::nullopt, checks);
    permission_->setObjectName(QStringLiteral("speaking.permission"));
    checkRows->addWidget(permission_);
    // Side by side where the page is wide enough, else one under the other.
    auto* meterRow = new WrappingRow(checks);
    meters_ = meterRow;
    meters_->setObjectName(QStringLiteral("speaking.meters"));
    meterRow->setMargins(QMargins(12, 10, 12, 10));
    meterRow->setSpacing(18);
    micMeter_ = new MeterRow({}, model_->levelMeters(), MeterRow::Source::mic, meters_);
    virtualMeter_ = new MeterRow({}, model_->levelMeters(), MeterRow::Source::virtualDevice, meters_);
    for (MeterRow* meter : {micMeter_, virtualMeter_}) {
        // Wider where a language's title needs it.
        meter->setMinimumWidth(180);
        meterRow->addWidget(meter);
    }
    meterRow->addStretch();
    // Only the model starts the taps (in a call, a sound test or the
    // microphone check); between those the meters stay, dimmed.
    auto* fade = new QGraphicsOpacityEffect(meters_);
    fade->setOpacity(idleMeterOpacity);
    meters_->setGraphicsEffect(fade);
    checkRows->addWidget(meters_);
    checkRows->addWidget(new RowDivider(checks));
    auto* testRow = new QWidget(checks);
    auto* testLayout = new QHBoxLayout(testRow);
    testLayout->setContentsMargins(12, 9, 12, 9);
    soundTest_ = new PillButton({}, testRow);
    soundTest_->setObjectName(QStringLiteral("speaking.soundTest"));
    soundTest_->setTint(Palette::violet());
    soundTest_->setActive(true);
    testLayout->addWidget(soundTest_);
    testLayout->addStretch(1);
    soundTestState_ = sheetText(testRow, QStringLiteral("speaking.soundTestState"), 11, Look::secondaryText());
    soundTestState_->setMaximumWidth(260);
    // A long failure keeps to two lines.
    soundTestState_->setMaximumHeight(soundTestState_->fontMetrics().lineSpacing() * 2);
    testLayout->addWidget(soundTestState_);
    checkRows->addWidget(testRow);
    connect(soundTest_, &QAbstractButton::clicked, this,
            [this] { spawnOnModel(model_, [](AppModel& model) { return model.startHearTest(); }); });
    footnote_ = sheetText(checks, QStringLiteral("speaking.footnote"), 10.5, Look::secondaryText());
    footnote_->setContentsMargins(12, 0, 12, 9);
    checkRows->addWidget(footnote_);
    layout->addWidget(detection_);

    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

SpeakingGroups::~SpeakingGroups() = default;

void SpeakingGroups::refresh()
{
    speaking_->setTitle(q(localized("说话")));
    micRow_->setLabel(q(localized("我的麦克风")));
    std::string micDetail = localized("无");
    if (!model_->micConfirmed()) {
        micDetail = localized("尚未确认");
    } else if (const auto selected = model_->selectedInputID()) {
        const auto& inputs = model_->inputDevices();
        const auto found = std::find_if(inputs.begin(), inputs.end(),
                                        [&](const AudioDevice& device) { return device.id == *selected; });
        if (found != inputs.end())
            micDetail = found->name;
    }
    micRow_->setDetail(q(micDetail));
    updates::setText(micCheck_, q(localized("检测/更换")));
    micCheck_->setActive(!model_->micConfirmed());

    const bool whileHolding = model_->translateWhileHolding();
    ownVoiceRow_->setLabel(q(localized("对方听到我的原声")));
    const bool ownVoiceOn = model_->originalVoiceOn();
    ownVoiceRow_->setDetail(q(!ownVoiceOn        ? localized("只听到翻译")
                                  : whileHolding ? localized("先听到原声，每说完一句再听到翻译")
                                                 : localized("先听到原声，松开后再听到翻译")));
    updates::setAccessibleName(ownVoice_, q(localized("对方听到我的原声")));
    updates::setChecked(ownVoice_, ownVoiceOn);
    updates::setEnabled(ownVoice_, !model_->isChangingOriginalVoice());

    modeRow_->setLabel(q(localized("按住说话的翻译方式")));
    modeRow_->setDetail(q(whileHolding ? localized("每说完一句就翻译发给对方") : localized("松开后再翻译发给对方")));
    updates::setText(afterRelease_, q(localized("松开后翻译")));
    updates::setText(whileHolding_, q(localized("边说边翻译")));
    updates::setChecked(afterRelease_, !whileHolding);
    updates::setChecked(whileHolding_, whileHolding);
    const bool holding = model_->isHoldingToTalk();
    updates::setEnabled(afterRelease_, !holding);
    updates::setEnabled(whileHolding_, !holding);

    setShown(freeDivider_, whileHolding);
    setShown(freeRow_, whileHolding);
    freeRow_->setLabel(q(localized("自由模式")));
    freeRow_->setDetail(q(localized("不用按住，直接说话，每说完一句就翻译发给对方")));
    updates::setAccessibleName(free_, q(localized("自由模式")));
    const bool freeOn = model_->freeListening();
    updates::setChecked(free_, freeOn);
    // It can always be turned off, and on only when speaking could start now.
    updates::setEnabled(free_, freeOn || model_->canStartSpeaking());

    detection_->setTitle(q(localized("声音检测")));
    const bool authorized = model_->micAuthorized();
    setShown(permission_, !authorized);
    setShown(meters_, authorized);
    if (!authorized) {
        permission_->setNotice(
            q(localized("授权麦克风后显示音量")), Palette::amber(),
            GroupNotice::Action{q(localized("去设置")), [] { SystemSettings::shared().open(paneId::microphone); }});
    }
    micMeter_->setTitle(q(localized("我的麦克风")));
    virtualMeter_->setTitle(q(localized("送给对方")));
    const bool live = model_->callActive() || model_->isHearTesting() || model_->showMicCheck();
    auto* fade = static_cast<QGraphicsOpacityEffect*>(meters_->graphicsEffect());
    if (const double opacity = live ? 1.0 : idleMeterOpacity; fade->opacity() != opacity)
        fade->setOpacity(opacity);
    updates::setText(footnote_,
                     q(localized("通话或测试时显示音量（平时不占用麦克风）。本机音量不代表对方已收到声音。")));
    refreshSoundTest();
}

void SpeakingGroups::refreshSoundTest()
{
    updates::setText(soundTest_, q(localized("本机声音测试")));
    updates::setEnabled(soundTest_, model_->isIdle() && model_->virtualMicStatus());
    updates::setToolTip(soundTest_,
                        q(model_->originalVoiceOn()
                              ? localized("测试时请说几句话（3 秒），然后在耳机里听回放。")
                              : localized("测试会向翻译麦克风送入%@语音并在耳机回放；通话中对方也可能听到。",
                                          model_->theirLanguage().displayName())));
    using HearTest = AppModel::HearTest;
    QString text;
    QColor color = Palette::violet();
    const auto& state = model_->hearTest().value;
    if (std::holds_alternative<HearTest::Recording>(state)) {
        text = q(localized("录音中…"));
        color = Palette::brick();
    } else if (const auto* playing = std::get_if<HearTest::PlayingBack>(&state)) {
        text = q(playing->heard ? localized("有声音 · 回放中") : localized("没有声音 · 回放中"));
        color = playing->heard ? Palette::violet() : Palette::amber();
    } else if (std::holds_alternative<HearTest::Heard>(state)) {
        text = QStringLiteral("✓ ") + q(localized("有声音"));
    } else if (std::holds_alternative<HearTest::Silent>(state)) {
        text = QStringLiteral("⚠ ") + q(localized("没有检测到声音"));
        color = Palette::amber();
    } else if (const auto* failed = std::get_if<HearTest::Failed>(&state)) {
        text = q(localized("失败：%@", failed->message));
        color = Palette::alertRed();
    }
    updates::setText(soundTestState_, text);
    updates::setTextColor(soundTestState_, color);
    setShown(soundTestState_, !text.isEmpty());
}

}  // namespace parlaro::settings
