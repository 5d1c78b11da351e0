#pragma once

#include "ui/HoldShortcut.h"

#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class QKeyEvent;
class QLabel;

namespace parlaro {
class SettingsWriter;
}

namespace parlaro::ui {
class GroupNotice;
class HoldShortcutCenter;
class PillButton;
class SidebarRow;
class ViewBinding;
}  // namespace parlaro::ui

namespace parlaro::settings {

// The settings row that records, changes or clears the hold shortcut. While
// it records, every key press and release in the program comes here and
// nowhere else (no widget, no shortcut), and the center's own grabs are
// released so they cannot take the keys first.
class HoldShortcutRow : public QWidget {
    Q_OBJECT
public:
    HoldShortcutRow(ui::HoldShortcutCenter& center, SettingsWriter& settings, QWidget* parent = nullptr);
    ~HoldShortcutRow() override;

    // Only picks the wording of the detail.
    void setWhileHolding(bool whileHolding);

    bool isRecording() const { return recording_; }
    std::optional<std::string> problem() const { return problem_; }

    void startRecording();
    void cancelRecording();
    void clear();

    // The stored code of the physical key of an event: by its X keycode, or,
    // without one, by Qt's key (letters then follow the US layout).
    static std::optional<std::uint16_t> keyCode(const QKeyEvent& event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void refresh();
    void stopRecording();
    void commit(const ui::HoldShortcut& shortcut);
    void modifierChanged(std::uint16_t code, bool down);
    void keyDown(std::uint16_t code, std::uint32_t modifiers);
    void otherEvent(std::uint16_t code);
    std::string detailText() const;

    ui::HoldShortcutCenter& center_;
    SettingsWriter& settings_;
    bool whileHolding_ = true;
    bool recording_ = false;
    std::optional<std::string> problem_;
    std::optional<ui::HoldShortcut::ModifierKey> lone_;

    ui::SidebarRow* row_;
    QLabel* waiting_;
    ui::PillButton* cancel_;
    ui::PillButton* clear_;
    ui::PillButton* record_;
    ui::GroupNotice* notice_;
    std::unique_ptr<ui::ViewBinding> binding_;
};

}  // namespace parlaro::settings
