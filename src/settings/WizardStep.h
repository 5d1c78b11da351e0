#pragma once

#include <QWidget>

class QHBoxLayout;
class QLabel;

namespace parlaro::ui {

// The round badge of a step: its number while open, a tick once done.
class StepBadge : public QWidget {
    Q_OBJECT
public:
    StepBadge(int number, QWidget* parent = nullptr);
    void setDone(bool done);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int number_;
    bool done_ = false;
};

// One row of the wizard: badge, title and the controls that get the step
// done. The row's "done" property says whether it is ticked. The controls
// show while the step is open, or always when `keepControls`.
class WizardStep : public QWidget {
    Q_OBJECT
public:
    WizardStep(int number, const QString& title, bool keepControls, QWidget* parent = nullptr);

    void setDone(bool done);
    // Where the controls go, trailing.
    QHBoxLayout* controls() const { return controls_; }

private:
    StepBadge* badge_ = nullptr;
    QLabel* title_ = nullptr;
    QWidget* controlBox_ = nullptr;
    QHBoxLayout* controls_ = nullptr;
    bool keepControls_;
};

}  // namespace parlaro::ui
