#pragma once

#include "model/SettingsPage.h"

#include <QWidget>

#include <array>
#include <memory>
#include <optional>

class QLabel;
class QScrollArea;
class QVBoxLayout;

namespace parlaro {
class AppModel;
}

namespace parlaro::ui {
class HoldShortcutCenter;
class PillButton;
class SectionTitle;
class SymbolView;
class ViewBinding;
}  // namespace parlaro::ui

namespace parlaro::settings {

class UpdateModel;

// The settings: a sidebar of pages with attention dots, the version and the
// way back to the call, and the chosen page in a scroll area. The page shown
// is the model's settingsPage, the general page when none is set.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    // The sidebar is as wide as its longest label needs, from the narrowest
    // to the widest width here.
    static constexpr int sidebarWidth = 220;
    static constexpr int sidebarMaxWidth = 360;
    static constexpr int pageMaxWidth = 560;
    static constexpr std::array pages{SettingsPage::general,    SettingsPage::speaking, SettingsPage::voice,
                                      SettingsPage::virtualMic, SettingsPage::history,  SettingsPage::updates,
                                      SettingsPage::status};

    // Without a shortcut center the general page leaves out the hold shortcut.
    SettingsView(std::shared_ptr<AppModel> model, std::shared_ptr<UpdateModel> updates,
                 ui::HoldShortcutCenter* shortcuts = nullptr, QWidget* parent = nullptr);
    ~SettingsView() override;

    SettingsPage page() const;
    // Whether the page's sidebar row carries a dot.
    static bool needsAttention(SettingsPage page, const AppModel& model, const UpdateModel& updates);
    static const char* titleKey(SettingsPage page);
    // The name of the page's symbol in the sidebar (one of ui::Icons).
    static const char* symbolName(SettingsPage page);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void refresh();
    void showPage(SettingsPage page);
    void fitSidebar();

    std::shared_ptr<AppModel> model_;
    std::shared_ptr<UpdateModel> updates_;
    ui::HoldShortcutCenter* shortcuts_;
    QWidget* sidebar_;
    QLabel* heading_;
    std::array<QWidget*, pages.size()> rows_{};
    std::array<QLabel*, pages.size()> rowLabels_{};
    std::array<ui::SymbolView*, pages.size()> symbols_{};
    std::array<QWidget*, pages.size()> dots_{};
    QLabel* version_;
    ui::PillButton* back_;
    QScrollArea* scroll_;
    QLabel* pageTitle_;
    QVBoxLayout* pageLayout_;
    QWidget* pageBody_ = nullptr;
    std::optional<SettingsPage> built_;
    std::unique_ptr<ui::ViewBinding> binding_;
};

}  // namespace parlaro::settings
