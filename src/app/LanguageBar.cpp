#include "app/LanguageBar.h"

#include "app/Spinner.h"
#include "app/SymbolPill.h"
#include "model/AppModel.h"
#include "model/ModelTask.h"
#include "settings/PickRefusal.h"
#include "settings/SheetParts.h"
#include "ui/Accessibility.h"
#include "ui/Icons.h"
#include "ui/LanguagePicker.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/PillButton.h"
#include "ui/SymbolView.h"
#include "ui/Text.h"
#include "ui/WidgetUpdates.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>

namespace parlaro::app {

using namespace ui;

namespace {

QLabel* makeSideLabel(QWidget* parent, const char* name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(Look::font(12, QFont::Medium));
    label->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    updates::setTextColor(label, QColor::fromRgbF(0, 0, 0, 0.55f));
    return label;
}

QComboBox* makePicker(QWidget* parent, const char* name)
{
    auto* picker = new LanguagePicker(110, parent);
    picker->setObjectName(QString::fromLatin1(name));
    picker->setFont(Look::font(12));
    return picker;
}

}  // namespace

LanguageBar::LanguageBar(std::shared_ptr<AppModel> model, QWidget* parent) : QWidget(parent), model_(std::move(model))
{
    setObjectName(QStringLiteral("languageBar"));
    setFont(Look::font(12));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    myLabel_ = makeSideLabel(this, "languageBar.myLabel");
    myPicker_ = makePicker(this, "languageBar.my");
    swap_ = new SymbolPill(QStringLiteral("arrow.left.arrow.right"), QString(), this);
    swap_->setObjectName(QStringLiteral("languageBar.swap"));
    swap_->setTint(Palette::violet());
    theirLabel_ = makeSideLabel(this, "languageBar.theirLabel");
    theirPicker_ = makePicker(this, "languageBar.their");
    spinner_ = new Spinner(14, this);
    spinner_->setObjectName(QStringLiteral("languageBar.spinner"));
    warning_ = new SymbolView(QStringLiteral("exclamationmark.triangle.fill"), Palette::amber(), 14, this);
    warning_->setObjectName(QStringLiteral("languageBar.warning"));
    row->addWidget(myLabel_);
    row->addWidget(myPicker_);
    row->addWidget(swap_);
    row->addWidget(theirLabel_);
    row->addWidget(theirPicker_);
    row->addWidget(spinner_);
    row->addWidget(warning_);
    row->addStretch(1);
    pickNote_ = sheetText(this, QStringLiteral("languageBar.pickNote"), 12, Palette::amber());
    pickNote_->setContentsMargins(20, 6, 20, 6);
    Accessibility::setRole(pickNote_, QAccessible::AlertMessage);
    pickNote_->hide();

    connect(myPicker_, &QComboBox::activated, this, [this](int index) { picked(myPicker_, true, index); });
    connect(theirPicker_, &QComboBox::activated, this, [this](int index) { picked(theirPicker_, false, index); });
    connect(swap_, &QPushButton::clicked, this, [this] {
        spawnOnModel(model_, [](AppModel& m) {
            return m.changeLanguages(m.theirLanguage.get(), m.myLanguage.get(), AppModel::DownloadConsent::ask);
        });
    });

    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

LanguageBar::~LanguageBar() = default;

void LanguageBar::picked(QComboBox* picker, bool mine, int index)
{
    auto language = CallLanguage::find(picker->itemData(index).toString().toStdString());
    if (language) {
        std::optional<CallLanguage> my = mine ? language : std::nullopt;
        std::optional<CallLanguage> their = mine ? std::nullopt : language;
        ui::pickAndTell(model_, my, their, pickNote_);
    }
    // The picker shows the model's language until the model changes it.
    const CallLanguage& shown = mine ? model_->myLanguage.get() : model_->theirLanguage.get();
    picker->setCurrentIndex(picker->findData(q(shown.id)));
}

void LanguageBar::fill(QComboBox* picker, const std::vector<CallLanguage>& choices, bool mine,
                       const CallLanguage& shown)
{
    bool same = picker->count() == static_cast<int>(choices.size());
    for (int i = 0; same && i < picker->count(); ++i)
        same = picker->itemData(i).toString() == q(choices[static_cast<std::size_t>(i)].id);
    if (!same) {
        picker->clear();
        for (const auto& language : choices)
            picker->addItem(q(model_->languageMenuLabel(language, mine)), q(language.id));
    } else {
        // Labels change with readiness and the interface language.
        for (int i = 0; i < picker->count(); ++i) {
            QString label = q(model_->languageMenuLabel(choices[static_cast<std::size_t>(i)], mine));
            if (picker->itemText(i) != label)
                picker->setItemText(i, label);
        }
    }
    int index = picker->findData(q(shown.id));
    if (picker->currentIndex() != index)
        picker->setCurrentIndex(index);
}

void LanguageBar::refresh()
{
    AppModel& m = *model_;
    updates::setText(myLabel_, q(localized("我说")));
    updates::setText(theirLabel_, q(localized("对方说")));
    updates::setAccessibleName(myPicker_, myLabel_->text());
    updates::setAccessibleName(theirPicker_, theirLabel_->text());
    fill(myPicker_, m.myLanguageChoices(), true, m.myLanguage.get());
    fill(theirPicker_, m.theirLanguageChoices(), false, m.theirLanguage.get());

    const bool hearMine = m.myEngine.get().has_value();
    const bool hearTheirs = m.theirEngine.get().has_value();
    updates::setToolTip(swap_, q(localized("互换两边的语言")));
    updates::setAccessibleName(swap_, swap_->toolTip());
    // Swapped, the pair still works one way as long as either side can be
    // recognized.
    updates::setEnabled(swap_, hearMine || hearTheirs);
    bool changing = m.isChangingLanguage.get();
    updates::setVisible(spinner_, changing);
    updates::setToolTip(spinner_, q(localized("正在准备新语言…")));
    const std::string my = m.myLanguage.get().displayName();
    const std::string their = m.theirLanguage.get().displayName();
    // A pair that cannot be translated here does nothing else either: the
    // setup steps' note says so and names what can be picked instead.
    std::string warning = m.untranslatablePairNote();
    if (!warning.empty()) {
    } else if (!hearMine && !hearTheirs) {
        warning = localized("本机无法识别%@和%@，两种语言至少要有一种能识别", my, their);
    } else if (!hearTheirs) {
        warning = localized("本机无法识别%@：你说的话会翻译给对方，但对方说话不会显示字幕。", their);
    } else if (!hearMine) {
        warning = localized("本机无法识别%@：不能按住说话，请打字；对方说话照常显示字幕。", my);
    }
    updates::setVisible(warning_, !changing && !warning.empty());
    // Said on hover and to a screen reader alike: the mark alone tells
    // neither what is wrong nor what still works.
    updates::setToolTip(warning_, q(warning));
    updates::setAccessibleName(warning_, q(warning));
    focusReturn_.setEnabled(this, m.canChangeLanguage());
    // The note goes once the status line has moved on from it.
    if (!pickNote_->isHidden() && q(m.status.get()) != pickNote_->text())
        pickNote_->hide();
}

}  // namespace parlaro::app
