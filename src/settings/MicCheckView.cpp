#include "settings/MicCheckView.h"

#include "audio/AudioMeters.h"
#include "model/AppModel.h"
#include "model/ModelTask.h"
#include "settings/SheetParts.h"
#include "speech/Localization.h"
#include "ui/Look.h"
#include "ui/MeterRow.h"
#include "ui/Palette.h"
#include "ui/PillButton.h"
#include "ui/SystemSettings.h"
#include "ui/Text.h"
#include "ui/ViewBinding.h"
#include "ui/WidgetUpdates.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace parlaro::ui {

MicCheckView::MicCheckView(std::shared_ptr<AppModel> model, QWidget* parent) : QWidget(parent), model_(std::move(model))
{
    setObjectName(QStringLiteral("micCheck"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(16);

    auto* header = new QHBoxLayout();
    header->setSpacing(12);
    header->addWidget(glowingSymbol(this, QStringLiteral("mic.fill"), Palette::coral(), 26));
    auto* title = sheetText(this, QStringLiteral("micCheck.title"), 20, Look::primaryText(), true);
    title->setText(MicCheckView::title());
    header->addWidget(title, 1);
    column->addLayout(header);

    reason_ = sheetText(this, QStringLiteral("micCheck.reason"), 13, Palette::amber());
    column->addWidget(reason_);

    noDevices_ = sheetText(this, QStringLiteral("micCheck.noDevices"), 14, Palette::amber());
    noDevices_->setText(q(localized("没有检测到麦克风。请连接麦克风，列表会自动更新。")));
    column->addWidget(noDevices_);

    deviceSection_ = new QWidget(this);
    deviceSection_->setObjectName(QStringLiteral("micCheck.devices"));
    auto* devices = new QVBoxLayout(deviceSection_);
    devices->setContentsMargins(0, 0, 0, 0);
    devices->setSpacing(10);
    auto* pickerLine = new QHBoxLayout();
    auto* pickerTitle = sheetText(deviceSection_, QStringLiteral("micCheck.pickerTitle"), 13, Look::primaryText());
    pickerTitle->setWordWrap(false);
    pickerTitle->setText(q(localized("麦克风⟨标题⟩")));
    picker_ = new QComboBox(deviceSection_);
    picker_->setObjectName(QStringLiteral("micCheck.picker"));
    picker_->setFont(Look::font(13));
    picker_->setAccessibleName(pickerTitle->text());
    pickerLine->addWidget(pickerTitle);
    pickerLine->addWidget(picker_, 1);
    devices->addLayout(pickerLine);
    meter_ = new MeterRow(q(localized("音量")), model_->levelMeters(), MeterRow::Source::mic, deviceSection_);
    meter_->setObjectName(QStringLiteral("micCheck.meter"));
    devices->addWidget(meter_);
    auto* hint = sheetText(deviceSection_, QStringLiteral("micCheck.hint"), 14, Look::secondaryText());
    hint->setText(q(localized("请说几句话，音量条在跳就说明麦克风能用")));
    devices->addWidget(hint);
    auto* hint2 = sheetText(deviceSection_, QStringLiteral("micCheck.hint2"), 12, Look::secondaryText());
    hint2->setText(q(localized("如果音量条不动，请换一个麦克风再试。")));
    devices->addWidget(hint2);
    column->addWidget(deviceSection_);

    permissionLine_ = new QWidget(this);
    permissionLine_->setObjectName(QStringLiteral("micCheck.permission"));
    auto* permission = new QHBoxLayout(permissionLine_);
    permission->setContentsMargins(0, 0, 0, 0);
    auto* permissionText = sheetText(permissionLine_, QStringLiteral("micCheck.permissionText"), 13, Palette::amber());
    permissionText->setText(q(localized("需要麦克风权限才能检测。")));
    auto* openSettings = sheetPill(permissionLine_, QStringLiteral("micCheck.openSettings"), true, Palette::amber());
    openSettings->setText(q(localized("打开系统设置")));
    permission->addWidget(permissionText, 1);
    permission->addWidget(openSettings);
    column->addWidget(permissionLine_);

    micError_ = sheetText(this, QStringLiteral("micCheck.error"), 12, Palette::amber());
    column->addWidget(micError_);

    auto* buttons = new QHBoxLayout();
    later_ = sheetPill(this, QStringLiteral("micCheck.later"), false, Palette::violet());
    later_->setText(q(localized("稍后再说")));
    confirm_ = sheetPill(this, QStringLiteral("micCheck.confirm"), true, Palette::violet());
    confirm_->setText(q(localized("确定")));
    confirm_->setDefault(true);
    buttons->addWidget(later_);
    buttons->addStretch(1);
    buttons->addWidget(confirm_);
    column->addLayout(buttons);

    connect(picker_, &QComboBox::activated, this,
            [this](int index) { setCandidate(static_cast<AudioObjectId>(picker_->itemData(index).toUInt())); });
    connect(openSettings, &QPushButton::clicked, this, [] { SystemSettings::shared().open(paneId::microphone); });
    connect(later_, &QPushButton::clicked, this, [this] { model_->closeMicCheck(); });
    connect(confirm_, &QPushButton::clicked, this, [this] { confirm(); });
    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

MicCheckView::~MicCheckView() = default;

QString MicCheckView::title()
{
    return q(localized("检查麦克风"));
}

void MicCheckView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!shown_)
        appeared();
}

void MicCheckView::appeared()
{
    shown_ = true;
    // The first choice is shown, not previewed: the metering task below
    // previews it once metering is on.
    candidate_ = model_->selectedInputID();
    binding_->refreshNow();
    spawnOnModel(model_,
                 [view = QPointer<MicCheckView>(this)](AppModel& model) { return meterThenPreview(model, view); });
}

rt::Async<void> MicCheckView::meterThenPreview(AppModel& model, QPointer<MicCheckView> view)
{
    co_await model.enableMeters();
    if (view)
        view->meteringReady();
}

void MicCheckView::meteringReady()
{
    if (!candidate_)
        candidate_ = model_->selectedInputID();
    preview();
    binding_->refreshNow();
}

void MicCheckView::setCandidate(std::optional<AudioObjectId> id)
{
    if (candidate_ == id)
        return;
    candidate_ = id;
    preview();
    binding_->refreshNow();
}

void MicCheckView::preview()
{
    model_->previewMicrophone(candidate_);
}

void MicCheckView::confirm()
{
    if (!candidate_)
        return;
    spawnOnModel(model_, [id = *candidate_](AppModel& model) { return model.confirmMicrophone(id); });
}

void MicCheckView::refresh()
{
    const auto& reason = model_->micCheckReason();
    updates::setVisible(reason_, reason.has_value());
    if (reason)
        updates::setText(reason_, q(*reason));

    std::vector<std::pair<AudioObjectId, std::string>> listed;
    for (const auto& device : model_->inputDevices())
        listed.emplace_back(device.id, device.name);
    if (listed != listed_) {
        listed_ = listed;
        QSignalBlocker quiet(picker_);
        picker_->clear();
        for (const auto& [id, name] : listed_)
            picker_->addItem(q(name), QVariant::fromValue(static_cast<uint>(id)));
        // A picked device that went away gives way to the model's choice.
        if (devicesSeen_ && shown_) {
            bool stillListed = false;
            for (const auto& entry : listed_)
                stillListed = stillListed || (candidate_ && entry.first == *candidate_);
            if (!stillListed) {
                auto fallback = model_->selectedInputID();
                if (candidate_ != fallback) {
                    candidate_ = fallback;
                    preview();
                }
            }
        }
    }
    devicesSeen_ = true;

    int index = candidate_ ? picker_->findData(QVariant::fromValue(static_cast<uint>(*candidate_))) : -1;
    if (picker_->currentIndex() != index) {
        QSignalBlocker quiet(picker_);
        picker_->setCurrentIndex(index);
    }
    bool empty = listed_.empty();
    updates::setVisible(noDevices_, empty);
    updates::setVisible(deviceSection_, !empty);

    bool authorized = model_->micAuthorized();
    const auto& error = model_->levelMeters()->micError();
    updates::setVisible(permissionLine_, !authorized);
    updates::setVisible(micError_, authorized && error.has_value());
    if (authorized && error)
        updates::setText(micError_, q(localized("无法读取这个麦克风：%@", *error)));
    updates::setEnabled(confirm_, candidate_.has_value());
}

}  // namespace parlaro::ui
