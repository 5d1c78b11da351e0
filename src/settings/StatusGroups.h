#pragma once

#include <QWidget>

#include <memory>

namespace parlaro {
class AppModel;
}

namespace parlaro::ui {
class GroupNotice;
class ModuleStatusGroup;
class SidebarGroup;
class ViewBinding;
}  // namespace parlaro::ui

namespace parlaro::settings {

// What stops the far end from being heard, with the way to mend it; empty
// and hidden while listening works.
class ListeningGroup : public QWidget {
    Q_OBJECT
public:
    explicit ListeningGroup(std::shared_ptr<AppModel> model, QWidget* parent = nullptr);
    ~ListeningGroup() override;

private:
    void refresh();

    std::shared_ptr<AppModel> model_;
    ui::SidebarGroup* group_;
    ui::GroupNotice* notice_;
    std::unique_ptr<ui::ViewBinding> binding_;
};

// The status page: the listening problem when there is one, then how ready
// each module is.
class StatusGroups : public QWidget {
    Q_OBJECT
public:
    explicit StatusGroups(std::shared_ptr<AppModel> model, QWidget* parent = nullptr);
    ~StatusGroups() override;

private:
    std::shared_ptr<AppModel> model_;
    ui::ModuleStatusGroup* modules_;
    std::unique_ptr<ui::ViewBinding> binding_;
};

}  // namespace parlaro::settings
