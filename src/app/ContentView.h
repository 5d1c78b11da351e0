#pragma once

#include "model/SettingsPage.h"
#include "runtime/Observable.h"

#include <QWidget>

#include <memory>
#include <optional>

class QStackedLayout;
class QVBoxLayout;

namespace parlaro {
class AppModel;
class SpeechSynthesizer;
}  // namespace parlaro

namespace parlaro::ui {
class AppActivity;
class AppBackground;
class ErrorAlert;
class GroupNotice;
class HoldShortcutCenter;
class SetupCard;
class StartupSheet;
class ViewBinding;
}  // namespace parlaro::ui

namespace parlaro::settings {
class SettingsView;
class UpdateModel;
}  // namespace parlaro::settings

namespace parlaro::app {

class ConversationView;
class DraftPanel;
class FooterView;
class HeaderView;
class LanguageChangeAlert;

// The main window's content: the call screen, or the settings in its place
// while the model names a settings page, over the window background. It
// owns the window's presentations (the start-up sheet, the "需要下载" alert,
// the error alert), keeps readiness fresh each time the application becomes
// active, and lays itself out right to left when the interface language
// writes that way. Works as a window of its own or as a main window's
// central widget.
class ContentView : public QWidget {
    Q_OBJECT
public:
    struct Services {
        // Each time it becomes active, the activation refresh runs.
        ui::AppActivity* activity = nullptr;  // none: the running application's
        // Handed to the footer and the settings; none: no hold shortcut.
        ui::HoldShortcutCenter* shortcuts = nullptr;
        // Whose voice changes refresh the model's voices; none: the installed
        // synthesizer, when there is one.
        SpeechSynthesizer* synthesizer = nullptr;
    };

    static constexpr int minimumWidth = 980;
    static constexpr int minimumHeight = 700;
    static constexpr int setupPadding = 18;
    // The least of a conversation with captions a draft leaves in sight.
    static constexpr int leastConversation = 60;

    ContentView(std::shared_ptr<AppModel> model, std::shared_ptr<settings::UpdateModel> updates, Services services,
                QWidget* parent = nullptr);
    ~ContentView() override;

    // The first page, in page order, that needs the user; none when none does.
    static std::optional<SettingsPage> attentionPage(const AppModel& model, const settings::UpdateModel& updates);
    // Whether the one-time preparation card shows.
    static bool needsSetup(const AppModel& model);

    // Microphone access, voices and the driver at once, then a task that
    // re-reads the capture permission and retries listening.
    void activationRefresh();

    HeaderView* header() const { return header_; }
    QWidget* callScreen() const { return callScreen_; }
    ui::SetupCard* setupCard() const { return setupCard_; }
    ConversationView* conversation() const { return conversation_; }
    DraftPanel* draftPanel() const { return draftPanel_; }
    FooterView* footer() const { return footer_; }
    // Null while no settings page is set.
    settings::SettingsView* settingsView() const { return settingsView_; }
    ui::StartupSheet* sheet() const { return sheet_; }
    LanguageChangeAlert* languageAlert() const { return languageAlert_; }
    ui::ErrorAlert* errorAlert() const { return errorAlert_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refresh();
    void fitDraft();

    std::shared_ptr<AppModel> model_;
    std::shared_ptr<settings::UpdateModel> updates_;
    Services services_;
    ui::AppBackground* background_;
    QStackedLayout* stack_;
    QWidget* callScreen_;
    HeaderView* header_;
    QWidget* setupBox_;
    // Why conversations wait to be saved; the window stays usable.
    QWidget* historyBox_;
    ui::GroupNotice* historyNotice_;
    ui::SetupCard* setupCard_;
    // The conversation and what stands above and below it.
    QWidget* middle_;
    ConversationView* conversation_;
    QWidget* draftBox_;
    DraftPanel* draftPanel_;
    // Whether the conversation holds nothing, so the draft may take its room.
    bool conversationEmpty_ = true;
    FooterView* footer_;
    settings::SettingsView* settingsView_ = nullptr;
    ui::StartupSheet* sheet_;
    LanguageChangeAlert* languageAlert_;
    ui::ErrorAlert* errorAlert_;
    rt::Subscription activation_;
    rt::Subscription voices_;
    std::unique_ptr<ui::ViewBinding> binding_;
};

}  // namespace parlaro::app
