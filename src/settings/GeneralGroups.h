#pragma once

#include <QWidget>

#include <memory>

class QComboBox;

namespace parlaro {
class UserDefaults;
}

namespace parlaro::ui {
class HoldShortcutCenter;
class SidebarGroup;
class SidebarRow;
class ViewBinding;
}  // namespace parlaro::ui

namespace parlaro::settings {

// The general page: the interface language, then the hold shortcut when
// the program has a shortcut center.
class GeneralGroups : public QWidget {
    Q_OBJECT
public:
    GeneralGroups(ui::HoldShortcutCenter* shortcuts, UserDefaults& defaults, QWidget* parent = nullptr);
    ~GeneralGroups() override;

private:
    void refresh();

    ui::SidebarGroup* group_;
    ui::SidebarRow* languageRow_;
    QComboBox* language_;
    std::unique_ptr<ui::ViewBinding> binding_;
};

}  // namespace parlaro::settings
