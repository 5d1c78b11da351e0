#include "settings/UntranslatablePairNotice.h"

#include "model/AppModel.h"
#include "runtime/Task.h"
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

namespace parlaro::settings {

using namespace ui;

UntranslatablePairNotice::UntranslatablePairNotice(std::shared_ptr<AppModel> model, const QString& name,
                                                   double pixelSize, QWidget* parent)
    : QWidget(parent), model_(std::move(model))
{
    setObjectName(name);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    note_ = sheetText(this, name + QStringLiteral(".note"), pixelSize, Look::secondaryText());
    column->addWidget(note_);
    auto* row = new QHBoxLayout();
    row->setSpacing(6);
    for (std::size_t index = 0; index < pairButtons; ++index) {
        // Inside a sheet, Return belongs to the sheet's own default button.
        auto* button = sheetPill(this, name + QStringLiteral(".pair.%1").arg(index), false, Palette::violet());
        connect(button, &QPushButton::clicked, this, [this, index] {
            const auto& pairs = model_->translatablePairs();
            if (index >= pairs.size())
                return;
            rt::spawn([model = model_, pair = pairs[index]]() -> rt::Async<void> {
                co_await model->useTranslatablePair(pair);
            });
        });
        buttons_.push_back(button);
        row->addWidget(button);
    }
    row->addStretch(1);
    column->addLayout(row);
    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

UntranslatablePairNotice::~UntranslatablePairNotice() = default;

void UntranslatablePairNotice::refresh()
{
    const std::string note = model_->untranslatablePairNote();
    updates::setVisible(this, !note.empty());
    updates::setText(note_, q(note));
    const auto& pairs = model_->translatablePairs();
    const bool changing = model_->isChangingLanguage();
    for (std::size_t index = 0; index < buttons_.size(); ++index) {
        const bool shown = !note.empty() && index < pairs.size();
        updates::setVisible(buttons_[index], shown);
        if (!shown)
            continue;
        updates::setText(buttons_[index],
                         q(localized("%@ ⇄ %@", pairs[index].first.displayName(), pairs[index].second.displayName())));
        updates::setEnabled(buttons_[index], !changing);
    }
}

}  // namespace parlaro::settings
