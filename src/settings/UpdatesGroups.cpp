#include "settings/UpdatesGroups.h"

#include "settings/SheetParts.h"
#include "settings/Shown.h"

#include "settings/UpdateModel.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/PillButton.h"
#include "ui/SidebarGroup.h"
#include "ui/SidebarRow.h"
#include "ui/SystemSettings.h"
#include "ui/Text.h"
#include "ui/ViewBinding.h"
#include "ui/WidgetUpdates.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace parlaro::settings {

using namespace ui;
using Kind = UpdateModel::Phase::Kind;

UpdatesGroups::UpdatesGroups(std::shared_ptr<UpdateModel> updates, QWidget* parent)
    : QWidget(parent), updates_(std::move(updates))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    group_ = new SidebarGroup({}, this);
    group_->setObjectName(QStringLiteral("updates.group"));
    row_ = new SidebarRow({}, std::nullopt, group_->panel());
    row_->setObjectName(QStringLiteral("updates.row"));
    spinner_ = new QProgressBar(row_);
    spinner_->setObjectName(QStringLiteral("updates.spinner"));
    spinner_->setRange(0, 0);
    spinner_->setTextVisible(false);
    spinner_->setFixedSize(60, 6);
    later_ = sheetPill(row_, QStringLiteral("updates.later"), false, Palette::violet());
    download_ = sheetPill(row_, QStringLiteral("updates.download"), true, Palette::violet());
    check_ = sheetPill(row_, QStringLiteral("updates.check"), false, Palette::violet());
    for (QWidget* widget : {static_cast<QWidget*>(spinner_), static_cast<QWidget*>(later_),
                            static_cast<QWidget*>(download_), static_cast<QWidget*>(check_)})
        row_->addTrailing(widget);
    group_->contentLayout()->addWidget(row_);
    layout->addWidget(group_);

    footnote_ = sheetText(this, QStringLiteral("updates.footnote"), 11, Look::secondaryText());
    layout->addWidget(footnote_);

    // The model stays silent when it already is idle.
    connect(later_, &QAbstractButton::clicked, this, [this] { updates_->phase.set(UpdateModel::Phase::idle()); });
    connect(download_, &QAbstractButton::clicked, this,
            [this] { SystemSettings::shared().open(updates_->downloadPageURL()); });
    connect(check_, &QAbstractButton::clicked, this, [this] { updates_->check(); });
    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

UpdatesGroups::~UpdatesGroups() = default;

void UpdatesGroups::refresh()
{
    const auto kind = updates_->phase().kind;
    group_->setTitle(q(localized("软件更新")));
    row_->setLabel(q(localized("wenmora 版本 %@", updates_->currentAppVersion())));
    const auto status = updates_->statusText();
    row_->setDetail(status ? std::optional(q(*status)) : std::nullopt);
    setShown(spinner_, kind == Kind::checking);
    setShown(later_, kind == Kind::available);
    setShown(download_, kind == Kind::available);
    setShown(check_, kind != Kind::available && kind != Kind::checking);
    updates::setText(later_, q(localized("稍后")));
    updates::setText(download_, q(localized("下载新版本")));
    updates::setText(check_, q(localized("检查更新")));
    updates::setEnabled(check_, updates_->isConfigured());
    updates::setText(footnote_,
                     q(joinSentences({localized("更新只在你点击「检查更新」时进行。"),
                                      localized("新版本的安装包从官网下载，安装后设置保持不变。")})));
}

}  // namespace parlaro::settings
