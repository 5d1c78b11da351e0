#pragma once

#include <QPointer>
#include <QWidget>

namespace parlaro::ui {

// Enables and disables a part of a window without losing the keyboard
// user's place. A disabled widget hands its focus to the next control,
// which would then take keys meant for the first (a Space meant for a
// picker pressing a button). So the focus a part held when it was
// disabled goes nowhere, and comes back when the part is enabled again,
// unless the user has put it somewhere else meanwhile.
class FocusReturn {
public:
    void setEnabled(QWidget* part, bool enabled);

private:
    QPointer<QWidget> held_;
};

}  // namespace parlaro::ui
