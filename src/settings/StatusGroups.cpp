#include "settings/StatusGroups.h"

#include "settings/Shown.h"

#include "model/AppModel.h"
#include "model/ModelTask.h"
#include "ui/GroupNotice.h"
#include "ui/ModuleStatusGroup.h"
#include "ui/Palette.h"
#include "ui/SidebarGroup.h"
#include "ui/SystemSettings.h"
#include "ui/Text.h"
#include "ui/ViewBinding.h"
#include "ui/WidgetUpdates.h"

#include <QVBoxLayout>

namespace parlaro::settings {

using namespace ui;

ListeningGroup::ListeningGroup(std::shared_ptr<AppModel> model, QWidget* parent)
    : QWidget(parent), model_(std::move(model))
{
    setObjectName(QStringLiteral("listening"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    group_ = new SidebarGroup({}, this);
    notice_ = new GroupNotice({}, Palette::amber(), std::nullopt, group_->panel());
    notice_->setObjectName(QStringLiteral("listening.notice"));
    group_->contentLayout()->addWidget(notice_);
    layout->addWidget(group_);
    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

ListeningGroup::~ListeningGroup() = default;

void ListeningGroup::refresh()
{
    group_->setTitle(q(localized("收听对方")));
    const bool missing = model_->audioCaptureMissing();
    const bool failed = model_->listeningFailed();
    setShown(this, missing || failed);
    // Without the permission a retry cannot help, so that one wins.
    if (missing) {
        notice_->setNotice(
            q(localized("没有「系统录音」权限，听不到对方。请在系统设置「屏幕与系统录音 › 仅系统录音」里允许本软件。")),
            Palette::amber(), GroupNotice::Action{q(localized("去设置")), [] {
                                                      SystemSettings::shared().open(paneId::callAudioCapture);
                                                  }});
    } else if (failed) {
        auto retry = [model = model_] { spawnOnModel(model, [](AppModel& m) { return m.restartListening(); }); };
        notice_->setNotice(q(model_->listeningStatus()), Palette::amber(),
                           GroupNotice::Action{q(localized("重试")), std::move(retry)});
    }
}

StatusGroups::StatusGroups(std::shared_ptr<AppModel> model, QWidget* parent) : QWidget(parent), model_(std::move(model))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    layout->addWidget(new ListeningGroup(model_, this));
    modules_ = new ModuleStatusGroup(this);
    modules_->setObjectName(QStringLiteral("status.modules"));
    layout->addWidget(modules_);
    binding_ = std::make_unique<ViewBinding>([this] { modules_->setReports(model_->diagnosticRows()); });
}

StatusGroups::~StatusGroups() = default;

}  // namespace parlaro::settings
