#include "settings/SpeechModelDownload.h"

#include "model/AppModel.h"
#include "model/ModelTask.h"
#include "settings/SheetParts.h"
#include "speech/Localization.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/PillButton.h"
#include "ui/Text.h"
#include "ui/ViewBinding.h"
#include "ui/WholePercent.h"
#include "ui/WidgetUpdates.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>

#include <algorithm>

namespace parlaro::settings {

using namespace ui;

SpeechModelDownload::SpeechModelDownload(std::shared_ptr<AppModel> model, const QString& name, int progressWidth,
                                         QWidget* parent)
    : QWidget(parent), model_(std::move(model))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(name + QStringLiteral(".progress"));
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setFixedSize(progressWidth, 8);
    percent_ = new QLabel(this);
    percent_->setObjectName(name + QStringLiteral(".percent"));
    percent_->setFont(Look::monospacedFont(11));
    updates::setTextColor(percent_, Look::secondaryText());
    // Inside a sheet, Return belongs to the sheet's own default button.
    download_ = sheetPill(this, name + QStringLiteral(".download"), true, Palette::violet());
    unsupported_ = new QLabel(this);
    unsupported_->setObjectName(name + QStringLiteral(".unsupported"));
    unsupported_->setFont(Look::font(11));
    updates::setTextColor(unsupported_, Palette::amber());
    for (QWidget* widget : {static_cast<QWidget*>(progress_), static_cast<QWidget*>(percent_),
                            static_cast<QWidget*>(download_), static_cast<QWidget*>(unsupported_)})
        row->addWidget(widget);
    connect(download_, &QPushButton::clicked, this,
            [this] { spawnOnModel(model_, [](AppModel& model) { return model.downloadSpeechModel(); }); });
    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

SpeechModelDownload::~SpeechModelDownload() = default;

void SpeechModelDownload::refresh()
{
    updates::setText(download_, q(localized("下载")));
    const auto& progress = model_->speechDownloadProgress();
    const bool missing = !progress && model_->speechModelMissing();
    const bool unsupported = !progress && !missing && !model_->myEngine().has_value();
    updates::setVisible(progress_, progress.has_value());
    updates::setVisible(percent_, progress.has_value());
    if (progress) {
        const int value = static_cast<int>(std::clamp(*progress, 0.0, 1.0) * 1000);
        if (progress_->value() != value)
            progress_->setValue(value);
        updates::setText(percent_, percentText(*progress));
    }
    updates::setVisible(download_, missing);
    updates::setVisible(unsupported_, unsupported);
    if (unsupported)
        updates::setText(unsupported_, q(localized("本机无法识别%@", model_->myLanguage().displayName())));
}

}  // namespace parlaro::settings
