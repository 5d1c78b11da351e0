#pragma once

#include <QWidget>

#include <memory>

class QLabel;
class QProgressBar;

namespace parlaro::ui {
class PillButton;
class SidebarGroup;
class SidebarRow;
class ViewBinding;
}  // namespace parlaro::ui

namespace parlaro::settings {

class UpdateModel;

// The updates page: the running version, the check and what it found, and
// a footnote saying that nothing is fetched unless asked.
class UpdatesGroups : public QWidget {
    Q_OBJECT
public:
    explicit UpdatesGroups(std::shared_ptr<UpdateModel> updates, QWidget* parent = nullptr);
    ~UpdatesGroups() override;

private:
    void refresh();

    std::shared_ptr<UpdateModel> updates_;
    ui::SidebarGroup* group_;
    ui::SidebarRow* row_;
    QProgressBar* spinner_;
    ui::PillButton* later_;
    ui::PillButton* download_;
    ui::PillButton* check_;
    QLabel* footnote_;
    std::unique_ptr<ui::ViewBinding> binding_;
};

}  // namespace parlaro::settings
