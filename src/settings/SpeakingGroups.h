#pragma once

#include <QWidget>

#include <memory>

class QLabel;
class QPushButton;

namespace parlaro {
class AppModel;
}

namespace parlaro::ui {
class GroupNotice;
class MeterRow;
class PersistentSwitch;
class PillButton;
class SidebarGroup;
class SidebarRow;
class ViewBinding;
}  // namespace parlaro::ui

namespace parlaro::settings {

// The speaking page: the microphone, the own voice, how holding translates
// and hands-free mode; then the level meters and the local sound test.
class SpeakingGroups : public QWidget {
    Q_OBJECT
public:
    explicit SpeakingGroups(std::shared_ptr<AppModel> model, QWidget* parent = nullptr);
    ~SpeakingGroups() override;

    // How the level meters show while nothing measures.
    static constexpr double idleMeterOpacity = 0.55;

private:
    void refresh();
    void refreshSoundTest();

    std::shared_ptr<AppModel> model_;
    ui::SidebarGroup* speaking_;
    ui::SidebarRow* micRow_;
    ui::PillButton* micCheck_;
    ui::SidebarRow* ownVoiceRow_;
    ui::PersistentSwitch* ownVoice_;
    ui::SidebarRow* modeRow_;
    QPushButton* afterRelease_;
    QPushButton* whileHolding_;
    QWidget* freeDivider_;
    ui::SidebarRow* freeRow_;
    ui::PersistentSwitch* free_;
    ui::SidebarGroup* detection_;
    ui::GroupNotice* permission_;
    QWidget* meters_;
    ui::MeterRow* micMeter_;
    ui::MeterRow* virtualMeter_;
    ui::PillButton* soundTest_;
    QLabel* soundTestState_;
    QLabel* footnote_;
    std::unique_ptr<ui::ViewBinding> binding_;
};

}  // namespace parlaro::settings
