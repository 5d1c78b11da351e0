#pragma once

#include "app/SymbolPill.h"
#include "ui/FocusReturn.h"
#include "ui/SystemSettings.h"
#include "ui/ViewBinding.h"

#include <QWidget>

#include <memory>

class QAction;
class QHBoxLayout;
class QLineEdit;
class QMenu;
class QPushButton;

namespace parlaro {
class AppModel;
}

namespace parlaro::ui {
class AppActivity;
class HoldShortcutCenter;
class HoldToTalkControl;
class PillButton;
}  // namespace parlaro::ui

namespace parlaro::app {

class CompactMeter;
class ElidingLabel;
class Spinner;

// The bottom bar of the call screen: the status line with the two compact
// meters (or the way to grant the microphone), then the talk control, the
// typed text, the quick phrases, stop and clear. Everything it shows is read
// from the model; every action is the model's.
class FooterView : public QWidget {
    Q_OBJECT
public:
    // `shortcuts` may be null: no chip is ever shown then.
    FooterView(std::shared_ptr<AppModel> model, ui::HoldShortcutCenter* shortcuts, QWidget* parent = nullptr);
    ~FooterView() override;

    void setAppActivity(ui::AppActivity* activity);

    static constexpr const char* microphonePane = ui::paneId::microphone;

    ElidingLabel* statusLine() const { return status_; }
    // The status line with the meters, beside or under it.
    QWidget* statusRow() const { return statusRow_; }
    QWidget* meters() const { return meters_; }
    CompactMeter* micMeter() const { return micMeter_; }
    CompactMeter* virtualMeter() const { return virtualMeter_; }
    QPushButton* microphoneLink() const { return micLink_; }
    ui::HoldToTalkControl* talk() const { return talk_; }
    QLineEdit* typedText() const { return typed_; }
    ui::PillButton* quickPhrasesButton() const { return phrases_; }
    QMenu* quickPhrasesMenu() const { return menu_; }
    QAction* confirmBeforeSend() const { return confirm_; }
    ui::PillButton* stopButton() const { return stop_; }
    ui::PillButton* clearButton() const { return clear_; }
    Spinner* spinner() const { return spinner_; }

    // The typed-text field never gets narrower than this.
    static constexpr int minTypedWidth = 150;
    // Wide enough to read a sentence being typed, where the row has room.
    static constexpr int workingTypedWidth = 240;
    // The field's padding left and right of its text.
    static constexpr int typedPadding = 10;
    // The status row with one line; a line that needs two makes it taller.
    static constexpr int statusRowHeight = 30;
    static constexpr int statusSpacing = 8;
    // Below the meters when they stand under the status line.
    static constexpr int metersUnderPadding = 6;
    // A status line too long for two lines beside the meters has the row's
    // width, and the meters a line of their own under it.
    bool metersUnderStatus() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refresh();
    // Lets the talk control grow as far as the input row allows.
    void fitTalk();
    // Gives the status line a second line when one cannot hold it, and the
    // row's width when two beside the meters cannot.
    void fitStatus();
    bool eventFilter(QObject* watched, QEvent* event) override;
    void stopPlayback();

    std::shared_ptr<AppModel> model_;
    ui::HoldShortcutCenter* shortcuts_;
    Spinner* spinner_;
    ElidingLabel* status_;
    QWidget* statusRow_;
    QHBoxLayout* statusLine_;
    QHBoxLayout* metersUnder_;
    QWidget* meters_;
    CompactMeter* micMeter_;
    CompactMeter* virtualMeter_;
    QPushButton* micLink_;
    ui::HoldToTalkControl* talk_;
    QLineEdit* typed_;
    SymbolPill* phrases_;
    QMenu* menu_;
    QAction* confirm_;
    SymbolPill* stop_;
    ui::PillButton* clear_;
    ui::FocusReturn focusReturn_;
    // The field's hint in full, and a shorter one that keeps its reason
    // for a row short of room.
    QString placeholder_;
    QString shortPlaceholder_;
    std::unique_ptr<ui::ViewBinding> binding_;
};

}  // namespace parlaro::app
