#pragma once

#include "speech/CallLanguage.h"
#include "ui/FocusReturn.h"
#include "ui/ViewBinding.h"

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
class PillButton;
class SymbolView;
}  // namespace parlaro::ui

namespace parlaro::app {

class Spinner;

// "我说 [picker] ⇄ 对方说 [picker]" and a status mark. The bar never writes a
// language: a pick or a swap asks the model to change the pair, and the
// pickers keep showing the model's languages until it does.
class LanguageBar : public QWidget {
    Q_OBJECT
public:
    explicit LanguageBar(std::shared_ptr<AppModel> model, QWidget* parent = nullptr);
    ~LanguageBar() override;

    QComboBox* myPicker() const { return myPicker_; }
    QComboBox* theirPicker() const { return theirPicker_; }
    ui::PillButton* swapButton() const { return swap_; }
    Spinner* spinner() const { return spinner_; }
    ui::SymbolView* warning() const { return warning_; }
    // Why the last pick was refused, said where the pickers are; the window
    // places it under its header, where it has the room to wrap.
    QLabel* pickNote() const { return pickNote_; }

private:
    void refresh();
    void fill(QComboBox* picker, const std::vector<CallLanguage>& choices, bool mine, const CallLanguage& shown);
    void picked(QComboBox* picker, bool mine, int index);

    std::shared_ptr<AppModel> model_;
    QLabel* myLabel_;
    QLabel* theirLabel_;
    QComboBox* myPicker_;
    QComboBox* theirPicker_;
    ui::PillButton* swap_;
    Spinner* spinner_;
    ui::SymbolView* warning_;
    QLabel* pickNote_;
    ui::FocusReturn focusReturn_;
    std::unique_ptr<ui::ViewBinding> binding_;
};

}  // namespace parlaro::app
