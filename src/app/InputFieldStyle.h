#pragma once

class QWidget;

namespace parlaro::app {

// The look of every free text field of the main window: plain, padded
// 10 × 7, white with a hairline outline rounded at 9.
void applyInputFieldStyle(QWidget* field);

}  // namespace parlaro::app
