#pragma once

#include <QWidget>

#include <memory>

class QComboBox;

namespace parlaro {
class AppModel;
}

namespace parlaro::ui {
class HoldShortcutCenter;
class SidebarGroup;
class SidebarRow;
class ViewBinding;
}  // namespace parlaro::ui

namespace parlaro::settings {

class HoldShortcutRow;

// The general page: the interface language, then the hold shortcut when
// the program has a shortcut center. The shortcut row's wording follows the
// model's hold mode.
class GeneralGroups : public QWidget {
    Q_OBJECT
public:
    GeneralGroups(std::shared_ptr<AppModel> model, ui::HoldShortcutCenter* shortcuts, QWidget* parent = nullptr);
    ~GeneralGroups() override;

private:
    void refresh();

    std::shared_ptr<AppModel> model_;
    ui::SidebarGroup* group_;
    ui::SidebarRow* languageRow_;
    QComboBox* language_;
    HoldShortcutRow* shortcutRow_ = nullptr;
    std::unique_ptr<ui::ViewBinding> binding_;
};

}  // namespace parlaro::settings
