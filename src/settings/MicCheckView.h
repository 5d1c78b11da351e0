#pragma once

#include "platform/AudioSelectors.h"
#include "runtime/Task.h"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QComboBox;
class QLabel;

namespace parlaro {
class AppModel;
}

namespace parlaro::ui {

class MeterRow;
class PillButton;
class ViewBinding;

// The sheet's page that lets the user pick a microphone, watch its level
// and confirm it. The picker's choice (the candidate) is this view's own: it
// is previewed on the meters but only "确定" hands it to the model. A fresh
// view starts with no candidate.
class MicCheckView : public QWidget {
    Q_OBJECT
public:
    explicit MicCheckView(std::shared_ptr<AppModel> model, QWidget* parent = nullptr);
    ~MicCheckView() override;

    // The page's title, which also names the sheet.
    static QString title();

    std::optional<AudioObjectId> candidate() const { return candidate_; }
    QComboBox* picker() const { return picker_; }
    PillButton* confirmButton() const { return confirm_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();
    void appeared();
    void meteringReady();
    // Metering on, the view previews its first choice, unless it has gone
    // while the permission was asked.
    static rt::Async<void> meterThenPreview(AppModel& model, QPointer<MicCheckView> view);
    void setCandidate(std::optional<AudioObjectId> id);
    void preview();
    void confirm();

    std::shared_ptr<AppModel> model_;
    std::optional<AudioObjectId> candidate_;
    bool shown_ = false;
    bool devicesSeen_ = false;
    std::vector<std::pair<AudioObjectId, std::string>> listed_;

    QLabel* reason_ = nullptr;
    QLabel* noDevices_ = nullptr;
    QWidget* deviceSection_ = nullptr;
    QComboBox* picker_ = nullptr;
    MeterRow* meter_ = nullptr;
    QWidget* permissionLine_ = nullptr;
    QLabel* micError_ = nullptr;
    PillButton* later_ = nullptr;
    PillButton* confirm_ = nullptr;
    std::unique_ptr<ViewBinding> binding_;
};

}  // namespace parlaro::ui
