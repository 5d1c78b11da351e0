#pragma once

#include <QWidget>

#include <memory>

class QLabel;

namespace parlaro {
class AppModel;
}

namespace parlaro::ui {
class GroupNotice;
class PersistentSwitch;
class PillButton;
class SidebarGroup;
class SidebarRow;
class ViewBinding;
}  // namespace parlaro::ui

namespace parlaro::settings {

// The virtual audio device: installed, with the default-microphone switch,
// where the far end plays, the update notice and whether a call program is
// attached; or missing, with the way to install it.
class DeviceGroups : public QWidget {
    Q_OBJECT
public:
    explicit DeviceGroups(std::shared_ptr<AppModel> model, QWidget* parent = nullptr);
    ~DeviceGroups() override;

private:
    void refresh();

    std::shared_ptr<AppModel> model_;
    ui::SidebarGroup* group_;
    QWidget* installed_;
    ui::SidebarRow* installedRow_;
    ui::SidebarRow* systemMicRow_;
    ui::PersistentSwitch* systemMic_;
    QWidget* outputPart_;
    QLabel* farEnd_;
    QLabel* hint_;
    ui::GroupNotice* outdated_;
    QLabel* connected_;
    QWidget* missing_;
    QLabel* missingTitle_;
    QLabel* missingText_;
    ui::PillButton* install_;
    std::unique_ptr<ui::ViewBinding> binding_;
};

}  // namespace parlaro::settings
