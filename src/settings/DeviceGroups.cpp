#include "settings/DeviceGroups.h"

#include "settings/SheetParts.h"
#include "settings/Shown.h"

#include "model/AppModel.h"
#include "platform/VirtualMicHost.h"
#include "ui/GroupNotice.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/PersistentSwitch.h"
#include "ui/PillButton.h"
#include "ui/RowDivider.h"
#include "ui/SidebarGroup.h"
#include "ui/SidebarRow.h"
#include "ui/SymbolView.h"
#include "ui/Text.h"
#include "ui/ViewBinding.h"
#include "ui/WidgetUpdates.h"

#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace parlaro::settings {

using namespace ui;

DeviceGroups::DeviceGroups(std::shared_ptr<AppModel> model, QWidget* parent) : QWidget(parent), model_(std::move(model))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    group_ = new SidebarGroup({}, this);
    layout->addWidget(group_);
    QWidget* panel = group_->panel();

    installed_ = new QWidget(panel);
    installed_->setObjectName(QStringLiteral("device.installed"));
    auto* rows = new QVBoxLayout(installed_);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    installedRow_ = new SidebarRow({}, std::nullopt, installed_);
    installedRow_->addTrailing(
        new SymbolView(QStringLiteral("checkmark.circle.fill"), Palette::violet(), 14, installedRow_));
    rows->addWidget(installedRow_);
    rows->addWidget(new RowDivider(installed_));
    systemMicRow_ = new SidebarRow({}, std::nullopt, installed_);
    systemMic_ = new PersistentSwitch(systemMicRow_);
    systemMic_->setObjectName(QStringLiteral("device.systemMic"));
    systemMic_->setTint(Palette::violet());
    systemMicRow_->addTrailing(systemMic_);
    rows->addWidget(systemMicRow_);
    // A click asks the model; the switch goes on showing the model's value.
    connect(systemMic_, &QAbstractButton::clicked, this, [this](bool on) {
        updates::setChecked(systemMic_, model_->systemMicEnabled());
        model_->systemMicEnabledDidChange(on);
    });
    outputPart_ = new QWidget(installed_);
    auto* outputRows = new QVBoxLayout(outputPart_);
    outputRows->setContentsMargins(0, 0, 0, 0);
    outputRows->setSpacing(0);
    outputRows->addWidget(new RowDivider(outputPart_));
    outputRows->addSpacing(9);
    farEnd_ = sheetText(outputPart_, QStringLiteral("device.farEnd"), 11, Palette::violet());
    farEnd_->setContentsMargins(12, 0, 12, 9);
    hint_ = sheetText(outputPart_, QStringLiteral("device.hint"), 11, Look::secondaryText());
    hint_->setContentsMargins(12, 0, 12, 9);
    outputRows->addWidget(farEnd_);
    outputRows->addWidget(hint_);
    rows->addWidget(outputPart_);
    outdated_ = new GroupNotice({}, Palette::amber(), std::nullopt, installed_);
    outdated_->setObjectName(QStringLiteral("device.outdated"));
    rows->addWidget(outdated_);
    connected_ = sheetText(installed_, QStringLiteral("device.connected"), 11, Palette::violet());
    connected_->setContentsMargins(12, 12, 12, 12);
    rows->addWidget(connected_);
    group_->contentLayout()->addWidget(installed_);

    missing_ = new QWidget(panel);
    missing_->setObjectName(QStringLiteral("device.missing"));
    missing_->setAutoFillBackground(true);
    QPalette tinted = missing_->palette();
    tinted.setColor(QPalette::Window, Palette::withOpacity(Palette::amber(), 0.06));
    missing_->setPalette(tinted);
    auto* box = new QVBoxLayout(missing_);
    box->setContentsMargins(12, 12, 12, 12);
    box->setSpacing(8);
    missingTitle_ = new QLabel(missing_);
    missingTitle_->setObjectName(QStringLiteral("device.missingTitle"));
    missingTitle_->setFont(Look::font(12, QFont::DemiBold));
    updates::setTextColor(missingTitle_, Palette::amber());
    box->addWidget(missingTitle_);
    missingText_ = sheetText(missing_, QStringLiteral("device.missingText"), 11, Look::secondaryText());
    box->addWidget(missingText_);
    install_ = new PillButton({}, missing_);
    install_->setObjectName(QStringLiteral("device.install"));
    install_->setTint(Palette::violet());
    install_->setActive(true);
    install_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // The installation itself always runs from the install sheet.
    connect(install_, &QAbstractButton::clicked, this, [this] { model_->openInstallSheet(); });
    box->addWidget(install_);
    group_->contentLayout()->addWidget(missing_);

    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

DeviceGroups::~DeviceGroups() = default;

void DeviceGroups::refresh()
{
    group_->setTitle(q(localized("wenmora 音频设备")));
    const bool usable = model_->virtualMicStatus();
    setShown(installed_, usable);
    setShown(missing_, !usable);

    installedRow_->setLabel(q(localized("wenmora 音频设备已安装")));
    systemMicRow_->setLabel(q(localized("设为系统默认麦克风")));
    updates::setAccessibleName(systemMic_, q(localized("设为系统默认麦克风")));
    updates::setChecked(systemMic_, model_->systemMicEnabled());

    setShown(outputPart_, model_->virtualOutputDevice().has_value());
    std::optional<std::string> farEnd;
    if (const auto route = model_->callSpeakerRoute()) {
        const auto& outputs = model_->outputDevices();
        const auto found = std::find_if(outputs.begin(), outputs.end(),
                                        [&](const AudioDevice& device) { return device.id == route->output; });
        if (found != outputs.end())
            farEnd = found->name;
    }
    setShown(farEnd_, farEnd.has_value());
    if (farEnd)
        updates::setText(farEnd_, q(localized("正在把对方的声音放到「%@」", *farEnd)));
    // The names exactly as calling applications list the devices.
    updates::setText(hint_,
                     q(localized("通话软件里可以选设备的，麦克风选「%@」，扬声器选「%@」。", virtualMicrophoneName,
                                 virtualSpeakerName)));

    setShown(outdated_, model_->virtualMicNeedsUpdate());
    outdated_->setNotice(
        q(localized("新版 wenmora 同时是麦克风和扬声器，通话时你耳机里的翻译不再被系统压低。")), Palette::amber(),
        GroupNotice::Action{q(localized("更新虚拟麦克风")), [model = model_] { model->openInstallSheet(); }});
    setShown(connected_, model_->callMicrophoneRoute() == CallMicrophoneRoute::connected);
    updates::setText(connected_, q(localized("通话软件已接入翻译麦克风")));

    updates::setText(missingTitle_, q(localized("未安装 wenmora 音频设备")));
    updates::setText(missingText_, q(localized("没有它，对方听不到你的声音和翻译。安装时需要输入一次电脑密码。")));
    updates::setText(install_, q(localized("安装 wenmora 音频设备")));
    updates::setEnabled(install_, !model_->isInstallingDriver());
}

}  // namespace parlaro::settings
