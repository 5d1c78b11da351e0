#include "settings/VoiceGroups.h"

#include "settings/SheetParts.h"
#include "settings/Shown.h"

#include "model/AppModel.h"
#include "model/ModelTask.h"
#include "ui/GroupNotice.h"
#include "ui/Look.h"
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

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace parlaro::settings {

using namespace ui;

namespace {

// Replaces the entries only when they differ, and selects without signals,
// so a refresh never disturbs an open popup.
void setEntries(QComboBox* box, const std::vector<std::pair<QString, QVariant>>& entries, const QVariant& selected)
{
    const QSignalBlocker quiet(box);
    bool same = box->count() == static_cast<int>(entries.size());
    for (int index = 0; same && index < box->count(); ++index)
        same = box->itemText(index) == entries[index].first && box->itemData(index) == entries[index].second;
    if (!same) {
        box->clear();
        for (const auto& [text, data] : entries)
            box->addItem(text, data);
    }
    const int index = selected.isValid() ? box->findData(selected) : -1;
    if (box->currentIndex() != index)
        box->setCurrentIndex(index);
}

}  // namespace

void openSpokenContentSettings()
{
    SystemSettings::shared().open(paneId::spokenContent);
}

VoiceGroups::VoiceGroups(std::shared_ptr<AppModel> model, QWidget* parent) : QWidget(parent), model_(std::move(model))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);

    playback_ = new SidebarGroup({}, this);
    headphonesRow_ = new SidebarRow({}, std::nullopt, playback_->panel());
    headphones_ = new QComboBox(headphonesRow_);
    headphones_->setObjectName(QStringLiteral("voice.headphones"));
    // As wide as its longest choice: a closed picker shows its text whole.
    headphones_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    headphonesRow_->addTrailing(headphones_);
    playback_->contentLayout()->addWidget(headphonesRow_);
    connect(headphones_, &QComboBox::activated, this, [this](int index) {
        model_->setSelectedMonitorOutputID(static_cast<AudioObjectId>(headphones_->itemData(index).toULongLong()));
    });
    playback_->contentLayout()->addWidget(new RowDivider(playback_->panel()));
    monitorRow_ = new SidebarRow({}, std::nullopt, playback_->panel());
    monitor_ = new PersistentSwitch(monitorRow_);
    monitor_->setObjectName(QStringLiteral("voice.monitor"));
    monitor_->setTint(Palette::violet());
    monitorRow_->addTrailing(monitor_);
    playback_->contentLayout()->addWidget(monitorRow_);
    connect(monitor_, &QAbstractButton::clicked, this, [this](bool on) { model_->setMonitorInHeadphones(on); });
    layout->addWidget(playback_);

    voice_ = new SidebarGroup({}, this);
    QWidget* panel = voice_->panel();
    auto* rows = voice_->contentLayout();
    noVoices_ = new GroupNotice({}, Palette::alertRed(), std::nullopt, panel);
    noVoices_->setObjectName(QStringLiteral("voice.none"));
    rows->addWidget(noVoices_);
    noticeRow_ = new QWidget(panel);
    auto* noticeLayout = new QHBoxLayout(noticeRow_);
    noticeLayout->setContentsMargins(12, 9, 12, 9);
    noticeText_ = sheetText(noticeRow_, QStringLiteral("voice.notice"), 11, Palette::violetAlt());
    noticeLayout->addWidget(noticeText_, 1, Qt::AlignTop);
    noticeOk_ = new PillButton({}, noticeRow_);
    noticeOk_->setTint(Palette::violet());
    noticeLayout->addWidget(noticeOk_, 0, Qt::AlignTop);
    connect(noticeOk_, &QAbstractButton::clicked, this, [this] { model_->dismissVoiceNotice(); });
    rows->addWidget(noticeRow_);
    voiceRow_ = new SidebarRow({}, std::nullopt, panel);
    voices_ = new QComboBox(voiceRow_);
    voices_->setObjectName(QStringLiteral("voice.picker"));
    voices_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    voices_->installEventFilter(this);
    voiceRow_->addTrailing(voices_);
    rows->addWidget(voiceRow_);
    connect(voices_, &QComboBox::activated, this,
            [this](int index) { model_->setSelectedVoiceID(voices_->itemData(index).toString().toStdString()); });
    // Two long labels side by side would push a narrow page sideways.
    auto* buttons = new WrappingRow(panel);
    buttons->setObjectName(QStringLiteral("voice.buttons"));
    buttons->setMargins(QMargins(12, 9, 12, 0));
    buttons->setSpacing(8);
    preview_ = new PillButton({}, buttons);
    preview_->setObjectName(QStringLiteral("voice.preview"));
    preview_->setTint(Palette::violet());
    buttons->addWidget(preview_, Qt::AlignLeading);
    buttons->addStretch();
    download_ = new PillButton({}, buttons);
    download_->setObjectName(QStringLiteral("voice.download"));
    download_->setTint(Palette::violet());
    buttons->addWidget(download_, Qt::AlignLeading);
    rows->addWidget(buttons);
    connect(preview_, &QAbstractButton::clicked, this,
            [this] { spawnOnModel(model_, [](AppModel& model) { return model.previewVoiceInHeadphones(); }); });
    connect(download_, &QAbstractButton::clicked, this, [] { openSpokenContentSettings(); });
    help_ = sheetText(panel, QStringLiteral("voice.help"), 11, Look::secondaryText());
    help_->setContentsMargins(12, 4, 12, 9);
    rows->addWidget(help_);
    layout->addWidget(voice_);

    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

VoiceGroups::~VoiceGroups() = default;

bool VoiceGroups::eventFilter(QObject* watched, QEvent* event)
{
    // Voices installed meanwhile appear as soon as the pointer comes near.
    if (watched == voices_ && event->type() == QEvent::Enter && !model_->isSpeaking())
        model_->refreshVoices();
    return QWidget::eventFilter(watched, event);
}

void VoiceGroups::refresh()
{
    playback_->setTitle(q(localized("播放")));
    headphonesRow_->setLabel(q(localized("耳机")));
    updates::setAccessibleName(headphones_, headphonesRow_->labelWidget()->text());
    std::vector<std::pair<QString, QVariant>> outputs;
    for (const auto& device : model_->outputDevices()) {
        // Never the program's own devices nor virtual ones.
        if (AppModel::isPhysicalDevice(device))
            outputs.emplace_back(q(device.name), QVariant::fromValue<qulonglong>(device.id));
    }
    // An empty picker says so (a machine whose only output is virtual, such
    // as a null sink) in the row's wrapping line, not in the box: a box
    // grows to its placeholder and would push a narrow page sideways.
    const QString none = outputs.empty() ? q(localized("没有可以播放的耳机或扬声器")) : QString();
    headphonesRow_->setDetail(none.isEmpty() ? q(localized("通话时对方的声音也从这里播放")) : none);
    updates::setAccessibleDescription(headphones_, none);
    const auto chosen = model_->selectedMonitorOutputID();
    setEntries(headphones_, outputs, chosen ? QVariant::fromValue<qulonglong>(*chosen) : QVariant());
    updates::setEnabled(headphones_, !model_->isSpeaking() && !model_->isHearTesting());
    monitorRow_->setLabel(q(localized("耳机里播放翻译")));
    updates::setAccessibleName(monitor_, q(localized("耳机里播放翻译")));
    updates::setChecked(monitor_, model_->monitorInHeadphones());

    const std::string language = model_->theirLanguage().displayName();
    voice_->setTitle(q(localized("%@音色", language)));
    const auto& installed = model_->targetVoices();
    setShown(noVoices_, installed.empty());
    if (installed.empty())
        noVoices_->setNotice(
            q(localized("这台 Mac 没有%@音色，请点下面的「下载更好的音色」下载一个，否则无法播放。", language)),
            Palette::alertRed(), std::nullopt);
    const auto notice = model_->voiceNotice();
    setShown(noticeRow_, notice.has_value());
    if (notice)
        updates::setText(noticeText_, q(*notice));
    updates::setText(noticeOk_, q(localized("好")));

    voiceRow_->setLabel(q(localized("音色")));
    updates::setAccessibleName(voices_, q(localized("音色")));
    std::vector<std::pair<QString, QVariant>> entries{{q(localized("自动选择（推荐）")), QString()}};
    for (const auto& option : model_->offeredVoices())
        entries.emplace_back(q(option.label), q(option.id));
    setEntries(voices_, entries, q(model_->selectedVoiceID()));
    // Not while the voice speaks or is about to.
    updates::setEnabled(voices_, !model_->isSpeaking() && !model_->isTranslatingDraft() && !model_->isRecording());

    updates::setText(preview_, q(localized("试听（只在耳机）")));
    updates::setEnabled(preview_, !model_->isMicBusy() && !model_->isSpeaking() && !model_->isTranslatingDraft());
    updates::setText(download_, q(localized("下载更好的音色")));
    download_->setActive(
        std::none_of(installed.begin(), installed.end(), [](const VoiceOption& voice) { return voice.quality >= 2; }));
    updates::setText(
        help_,
        q(localized(
            "点「下载更好的音色」后：「系统声音」右边的 ⓘ › 左边选「%@」› 声音 › 下载带「高音质」或「优化音质」的音色。下载好会自动出现在上面。",
            language)));
}

}  // namespace parlaro::settings
