#pragma once

#include <QWidget>

#include <memory>

class QComboBox;
class QLabel;

namespace parlaro {
class AppModel;
}  // namespace parlaro

namespace parlaro::ui {
class GroupNotice;
class PersistentSwitch;
class PillButton;
class SidebarGroup;
class SidebarRow;
class ViewBinding;
}  // namespace parlaro::ui

namespace parlaro::settings {

// Opens the desktop's place for installing speech voices.
void openSpokenContentSettings();

// The voice page: where the far end and the translations play, and the
// voice that speaks the other party's language.
class VoiceGroups : public QWidget {
    Q_OBJECT
public:
    explicit VoiceGroups(std::shared_ptr<AppModel> model, QWidget* parent = nullptr);
    ~VoiceGroups() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();

    std::shared_ptr<AppModel> model_;
    ui::SidebarGroup* playback_;
    ui::SidebarRow* headphonesRow_;
    QComboBox* headphones_;
    ui::SidebarRow* monitorRow_;
    ui::PersistentSwitch* monitor_;
    ui::SidebarGroup* voice_;
    ui::GroupNotice* noVoices_;
    QWidget* noticeRow_;
    QLabel* noticeText_;
    ui::PillButton* noticeOk_;
    ui::SidebarRow* voiceRow_;
    QComboBox* voices_;
    ui::PillButton* preview_;
    ui::PillButton* download_;
    QLabel* help_;
    std::unique_ptr<ui::ViewBinding> binding_;
};

}  // namespace parlaro::settings
