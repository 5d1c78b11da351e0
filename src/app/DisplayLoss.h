#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

namespace parlaro::app {

// Qt ends the process by itself, right after a warning, when its connection
// to the display breaks (the X server or the compositor gone, a dropped
// forwarded display): the sentence on screen would be lost and the virtual
// microphone left as the default input. This watches Qt's messages for that
// warning and runs `rescue` first, on the main thread and before returning
// to Qt, as its event loop will not turn again; then the process ends with
// code 1. The rescue must not touch the display. One at a time per process;
// the previous message handler hears every message and comes back when this
// goes.
class DisplayLoss {
public:
    explicit DisplayLoss(std::function<void()> rescue);
    ~DisplayLoss();
    DisplayLoss(const DisplayLoss&) = delete;
    DisplayLoss& operator=(const DisplayLoss&) = delete;

    // Qt's words for a connection to the display that broke.
    static bool isLoss(QtMsgType type, const QString& message);
    // A rescue that hangs (a sound server that never answers) still ends
    // the process this long after the loss.
    static constexpr double rescueLimitSeconds = 20.0;
};

}  // namespace parlaro::app
