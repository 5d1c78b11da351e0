#include "settings/GeneralGroups.h"

#include "model/AppModel.h"
#include "platform/Platform.h"
#include "platform/SettingsStore.h"
#include "settings/HoldShortcutRow.h"
#include "speech/InterfaceLanguage.h"
#include "ui/RowDivider.h"
#include "ui/SidebarGroup.h"
#include "ui/SidebarRow.h"
#include "ui/Text.h"
#include "ui/ViewBinding.h"
#include "ui/WidgetUpdates.h"

#include <QComboBox>
#include <QVBoxLayout>

namespace parlaro::settings {

using namespace ui;

namespace {

constexpr const char* storedLanguageKey = "interfaceLanguage";

}  // namespace

GeneralGroups::GeneralGroups(std::shared_ptr<AppModel> model, HoldShortcutCenter* shortcuts, QWidget* parent)
    : QWidget(parent), model_(std::move(model))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    group_ = new SidebarGroup({}, this);
    layout->addWidget(group_);
    languageRow_ = new SidebarRow({}, std::nullopt, group_->panel());
    language_ = new QComboBox(languageRow_);
    language_->setObjectName(QStringLiteral("general.language"));
    // As wide as its longest choice: a closed picker shows its text whole.
    language_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    language_->addItem({}, QString());
    for (const auto& entry : InterfaceLanguage::supported())
        language_->addItem(q(entry.nativeName), q(entry.code));
    languageRow_->addTrailing(language_);
    group_->contentLayout()->addWidget(languageRow_);
    // Only a pick by the user changes the language; refresh() selects
    // without signals.
    connect(language_, &QComboBox::activated, this, [this](int index) {
        const std::string code = language_->itemData(index).toString().toStdString();
        // A refused choice changes nothing; the picker goes back to the
        // language in force.
        if (!model_->settingsWriter().write([&](SettingsStore&) { InterfaceLanguage::set(code); }))
            refresh();
    });
    if (shortcuts) {
        group_->contentLayout()->addWidget(new RowDivider(group_->panel()));
        shortcutRow_ = new HoldShortcutRow(*shortcuts, model_->settingsWriter(), group_->panel());
        group_->contentLayout()->addWidget(shortcutRow_);
    }
    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

GeneralGroups::~GeneralGroups() = default;

void GeneralGroups::refresh()
{
    InterfaceLanguage::Revision::shared().value.get();
    group_->setTitle(q(localized("通用")));
    languageRow_->setLabel(q(localized("界面语言")));
    languageRow_->setDetail(q(localized("菜单栏等系统部分在下次打开 wenmora 时切换")));
    updates::setAccessibleName(language_, q(localized("界面语言")));
    if (shortcutRow_)
        shortcutRow_->setWhileHolding(model_->translateWhileHolding());
    if (language_->itemText(0) != q(localized("跟随系统")))
        language_->setItemText(0, q(localized("跟随系统")));
    // The stored choice, not the language in effect: nothing stored means
    // following the system.
    const auto stored = platform().defaults->get<std::string>(storedLanguageKey).value_or("");
    const int index = std::max(0, language_->findData(q(stored)));
    if (language_->currentIndex() != index) {
        const QSignalBlocker quiet(language_);
        language_->setCurrentIndex(index);
    }
}

}  // namespace parlaro::settings
