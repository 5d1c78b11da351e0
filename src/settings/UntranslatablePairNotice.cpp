#include "settings/UntranslatablePairNotice.h"

#include "model/AppModel.h"
#include "settings/SheetParts.h"
#include "speech/Localization.h"
#include "ui/Look.h"
#include "ui/Text.h"
#include "ui/ViewBinding.h"
#include "ui/WidgetUpdates.h"

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
    note_ = sheetText(this, name + QStringLiteral(".note"), pixelSize, Look::secondaryText());
    column->addWidget(note_);
    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

UntranslatablePairNotice::~UntranslatablePairNotice() = default;

void UntranslatablePairNotice::refresh()
{
    const std::string note = model_->untranslatablePairNote();
    updates::setVisible(this, !note.empty());
    updates::setText(note_, q(note));
}

}  // namespace parlaro::settings
