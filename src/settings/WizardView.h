#pragma once

#include "speech/CallLanguage.h"
#include "ui/FocusReturn.h"

#include <QWidget>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;

namespace parlaro {
class AppModel;
}

namespace parlaro::ui {

class Card;
class PillButton;
class ViewBinding;
class WizardStep;

// The first-run checklist: six steps whose ticks follow the model, each
// with the control that gets it done. It holds no state; leaving it either
// way marks onboarding as done.
class WizardView : public QWidget {
    Q_OBJECT
public:
    explicit WizardView(std::shared_ptr<AppModel> model, QWidget* parent = nullptr);
    ~WizardView() override;

    // The page's title, which also names the sheet.
    static QString title();

private:
    void refresh();
    void fillPicker(QComboBox* picker, std::vector<CallLanguage>& shown, const std::vector<CallLanguage>& choices,
                    bool mine, const CallLanguage& current);
    void pickMine(int index);
    void pickTheirs(int index);
    // Asks the model for the pair, the side not given staying as it is then.
    void pick(std::optional<CallLanguage> mine, std::optional<CallLanguage> theirs);

    std::shared_ptr<AppModel> model_;
    std::vector<WizardStep*> steps_;
    QWidget* pickers_ = nullptr;
    FocusReturn pickersFocus_;
    QComboBox* myPicker_ = nullptr;
    QComboBox* theirPicker_ = nullptr;
    // Why the latest pick was refused, under the pickers.
    QLabel* pickNote_ = nullptr;
    std::vector<CallLanguage> myShown_;
    std::vector<CallLanguage> theirShown_;
    Card* pending_ = nullptr;
    QLabel* pendingText_ = nullptr;
    QWidget* packSpinner_ = nullptr;
    QLabel* packConfirm_ = nullptr;
    PillButton* packDownload_ = nullptr;
    PillButton* install_ = nullptr;
    std::unique_ptr<ViewBinding> binding_;
};

}  // namespace parlaro::ui
