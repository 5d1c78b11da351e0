#include "settings/InstallDriverView.h"

#include "model/AppModel.h"
#include "model/ModelTask.h"
#include "settings/SheetParts.h"
#include "speech/Localization.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/PillButton.h"
#include "ui/Text.h"
#include "ui/ViewBinding.h"
#include "ui/WidgetUpdates.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace parlaro::ui {

InstallDriverView::InstallDriverView(std::shared_ptr<AppModel> model, QWidget* parent)
    : QWidget(parent), model_(std::move(model))
{
    setObjectName(QStringLiteral("installDriver"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(16);

    auto* header = new QHBoxLayout();
    header->setSpacing(12);
    header->addWidget(glowingSymbol(this, QStringLiteral("mic.badge.plus"), Palette::violet(), 28));
    title_ = sheetText(this, QStringLiteral("installDriver.title"), 20, Look::primaryText(), true);
    header->addWidget(title_, 1);
    column->addLayout(header);

    explanation_ = sheetText(this, QStringLiteral("installDriver.explanation"), 14, Look::secondaryText());
    column->addWidget(explanation_);
    auto* note = sheetText(this, QStringLiteral("installDriver.note"), 12, Look::secondaryText());
    note->setText(q(localized("安装后，系统声音会短暂中断一两秒，这是正常的。")));
    column->addWidget(note);

    auto* buttons = new QHBoxLayout();
    later_ = sheetPill(this, QStringLiteral("installDriver.later"), false, Palette::violet());
    later_->setText(q(localized("稍后再说")));
    spinner_ = sheetSpinner(this, QStringLiteral("installDriver.spinner"));
    install_ = sheetPill(this, QStringLiteral("installDriver.install"), true, Palette::violet());
    install_->setDefault(true);
    buttons->addWidget(later_);
    buttons->addStretch(1);
    buttons->addWidget(spinner_);
    buttons->addWidget(install_);
    column->addLayout(buttons);

    connect(later_, &QPushButton::clicked, this, [this] { model_->closeInstallSheet(); });
    connect(install_, &QPushButton::clicked, this, [this] {
        // A press that slips in before the model marks itself busy is the
        // model's to refuse; the view only never starts one while it shows
        // the installation running.
        if (model_->isInstallingDriver())
            return;
        spawnOnModel(model_, [](AppModel& model) { return model.installVirtualMicDriver(); });
    });
    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

InstallDriverView::~InstallDriverView() = default;

QString InstallDriverView::title(const AppModel& model)
{
    return model.virtualMicNeedsUpdate() ? q(localized("更新 wenmora 音频设备"))
                                         : q(localized("需要安装 wenmora 音频设备"));
}

void InstallDriverView::refresh()
{
    bool update = model_->virtualMicNeedsUpdate();
    bool installing = model_->isInstallingDriver();
    updates::setText(title_, title(*model_));
    updates::setText(
        explanation_,
        update
            ? q(localized(
                "新版 wenmora 同时是麦克风和扬声器，通话时你耳机里的翻译不再被系统压低。更新会短暂中断系统音频，并要求输入电脑密码。"))
            : q(localized(
                "wenmora 是给通话软件用的麦克风和扬声器：对方通过它听到你的翻译（以及你的原声），本软件通过它把对方的声音放到你的耳机。安装时会要求输入一次电脑密码，以后不用再装。")));
    updates::setText(install_,
                     installing   ? q(localized("正在安装…"))
                         : update ? q(localized("更新"))
                                  : q(localized("安装")));
    updates::setVisible(spinner_, installing);
    updates::setEnabled(install_, !installing);
    updates::setEnabled(later_, !installing);
}

}  // namespace parlaro::ui
