#pragma once

#include "model/SettingsPage.h"
#include "ui/SystemSettings.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QHBoxLayout;
class QPushButton;

namespace parlaro {
class AppModel;
}

namespace parlaro::ui {
class ViewBinding;
}

namespace parlaro::app {

class HeaderBadge;
class LanguageBar;
class SymbolPill;

// The top row of the call screen: the language bar, the listening, device
// and own-voice badges (or, while the far end cannot be recorded, a red link
// to the sound settings) and the settings button, which carries a red dot
// while a settings page needs the user and opens that page. Short of room,
// the badges give way one by one, each as a whole.
class HeaderView : public QWidget {
    Q_OBJECT
public:
    // `attention` names the page that needs the user, if any; it is read
    // on every refresh, so whatever it reads is observed.
    using Attention = std::function<std::optional<SettingsPage>()>;
    HeaderView(std::shared_ptr<AppModel> model, Attention attention, QWidget* parent = nullptr);
    ~HeaderView() override;

    static constexpr int barHeight = 62;
    // The desktop keeps its own window decorations, so no room is left for
    // window buttons.
    static constexpr int leadingPadding = 20;
    static constexpr int trailingPadding = 20;
    static constexpr int topPadding = 6;
    static constexpr int spacing = 18;
    // Short of room the row first draws its parts closer together.
    static constexpr int tightSpacing = 10;
    static constexpr int attentionDiameter = 8;
    // How far the dot reaches past the button's top-trailing corner.
    static constexpr int attentionOffset = 2;
    static constexpr const char* capturePane = ui::paneId::callAudioCapture;

    // What the settings button opens.
    SettingsPage settingsTarget() const;

    LanguageBar* languageBar() const { return languageBar_; }
    HeaderBadge* listeningBadge() const { return listening_; }
    QPushButton* captureLink() const { return captureLink_; }
    HeaderBadge* captureBadge() const { return captureBadge_; }
    HeaderBadge* deviceBadge() const { return device_; }
    HeaderBadge* ownVoiceBadge() const { return ownVoice_; }
    SymbolPill* settingsButton() const { return settings_; }
    // The red dot over the settings button; hidden while no page needs
    // attention. A child of the header, not of the button, so nothing clips it.
    QWidget* attentionDot() const { return dot_; }

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void placeDot();
    void fitBadges();
    // One weighing of the row; whether anything changed.
    bool fitRow();
    void openSettings();

    std::shared_ptr<AppModel> model_;
    Attention attention_;
    LanguageBar* languageBar_;
    HeaderBadge* listening_;
    QPushButton* captureLink_;
    HeaderBadge* captureBadge_;
    HeaderBadge* device_;
    HeaderBadge* ownVoice_;
    SymbolPill* settings_;
    QWidget* dot_ = nullptr;
    QHBoxLayout* row_ = nullptr;
    bool fitting_ = false;
    std::unique_ptr<ui::ViewBinding> binding_;
};

}  // namespace parlaro::app
