#pragma once

#include "ui/CardBackground.h"
#include "ui/FocusReturn.h"
#include "ui/ViewBinding.h"

#include <memory>

class QLabel;
class QPlainTextEdit;

namespace parlaro {
class AppModel;
}

namespace parlaro::ui {
class PillButton;
}

namespace parlaro::app {

class Spinner;

// The draft waiting to be checked before it is sent: the user's sentence
// and its translation, both editable, with "重新翻译", "清空这句" and the play
// button (Ctrl+Return from either field). The fields are bound to the
// model's draft texts both ways.
class DraftPanel : public ui::Card {
    Q_OBJECT
public:
    explicit DraftPanel(std::shared_ptr<AppModel> model, QWidget* parent = nullptr);
    ~DraftPanel() override;

    // A field shows this many lines of its text at most and scrolls the rest.
    static constexpr int maxFieldLines = 6;
    // What a typed sentence usually runs to: the panel shows this many
    // characters of each field whole before it gives way.
    static constexpr int sentenceLength = 120;
    // The height the panel may take; short of it the fields show fewer
    // whole lines and scroll the rest. None: no limit but maxFieldLines.
    // Up to `forSentence`, the panel takes more where the lines holding
    // the first sentenceLength characters of its fields need it.
    void setRoom(int height, int forSentence = 0);
    int room() const { return room_; }

    QPlainTextEdit* source() const { return source_; }
    QPlainTextEdit* target() const { return target_; }
    QLabel* sourceTag() const { return sourceTag_; }
    QLabel* targetTag() const { return targetTag_; }
    Spinner* spinner() const { return spinner_; }
    ui::PillButton* retranslateButton() const { return retranslate_; }
    ui::PillButton* clearButton() const { return clear_; }
    ui::PillButton* playButton() const { return play_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void play();
    void fitHeights();

    std::shared_ptr<AppModel> model_;
    int room_ = 0;
    int sentenceRoom_ = 0;
    bool claimTight_ = false;
    QLabel* sourceTag_;
    QLabel* targetTag_;
    QPlainTextEdit* source_;
    QPlainTextEdit* target_;
    Spinner* spinner_;
    QWidget* spinnerBox_;
    ui::PillButton* retranslate_;
    ui::PillButton* clear_;
    ui::PillButton* play_;
    // Each control a press makes busy gets the focus back after.
    ui::FocusReturn sourceFocus_;
    ui::FocusReturn retranslateFocus_;
    std::unique_ptr<ui::ViewBinding> binding_;
};

}  // namespace parlaro::app
